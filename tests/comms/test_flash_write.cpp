// extflash_raw: chunking, echo checks and how a write transfer fails.
#include <regex>
#include <thread>

#include "test_flash_support.h"

namespace flashtest {
namespace {

using sim::Fault;
using sim::FaultKind;
using sim::ReplyKind;

class FlashWriteTest : public FlashTest {
protected:
    void SetUp() override { connect_units(1); }

    vk61::OperationResult upload(std::uint32_t address, const std::vector<std::uint8_t>& data,
                                 unsigned timeout_ms = 2000) {
        return comms->extflash_raw(1, address, data.data(), data.size(), timeout_ms, progress.callback());
    }
    std::vector<unsigned> chunk_dlcs() const {
        std::vector<unsigned> out;
        for (const vk61::BusFrame& f : sent(0x420, 1)) out.push_back(f.dlc());
        return out;
    }
};

struct ChunkingCase {
    const char* name;
    std::uint32_t address;
    std::size_t size;
    std::vector<unsigned> dlcs;  // of the write-chunk frames, in order
};

class FlashWriteChunking : public FlashWriteTest, public ::testing::WithParamInterface<ChunkingCase> {};

TEST_P(FlashWriteChunking, unitHoldsTheBytesAndEchoesEveryChunk) {
    const ChunkingCase& c = GetParam();
    const std::vector<std::uint8_t> data = pattern(c.size);

    ASSERT_TRUE(upload(c.address, data));

    EXPECT_EQ(flash(1, c.address, c.size), data);
    EXPECT_EQ(chunk_dlcs(), c.dlcs);
    EXPECT_EQ(bus.unit_status(1)->write_pointer, c.address + c.size);
    EXPECT_EQ(unerased_writes(1), 0u);
    const auto calls = progress.phase(1);
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls.front(), ProgressLog::Call(0, c.size, 1));
    EXPECT_EQ(calls.back(), ProgressLog::Call(c.size, c.size, 1));
    EXPECT_TRUE(log.contains("extflash_raw: complete (" + std::to_string(c.size) + " bytes, " +
                             std::to_string(c.dlcs.size()) + " packets) on UID 1"));
}

INSTANTIATE_TEST_SUITE_P(Sizes, FlashWriteChunking,
                         ::testing::Values(ChunkingCase{"one_byte", 0x1000, 1, {1}},
                                           ChunkingCase{"one_chunk", 0x2000, 64, {15}},
                                           // 36 bytes travel padded to 48 (DLC 14); the echo is still at +36.
                                           ChunkingCase{"hundred_bytes", 0x3000, 100, {15, 14}},
                                           ChunkingCase{"hundred_thirty_bytes", 0x00100000, 130, {15, 15, 2}}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(FlashWriteTest, hundredPacketRunEndsWithAShortChunkAndLogsProgressEveryHundred) {
    const std::vector<std::uint8_t> data = pattern(6405, 3);
    ASSERT_TRUE(upload(0x20000, data));
    const auto dlcs = chunk_dlcs();
    ASSERT_EQ(dlcs.size(), 101u);
    EXPECT_EQ(dlcs.back(), 5u);
    EXPECT_TRUE(log.contains("extflash_raw: progress 6400/6405 bytes"));
    EXPECT_TRUE(log.contains("extflash_raw: progress 6405/6405 bytes"));
}

TEST_F(FlashWriteTest, setAddressEchoWithOperationZeroIsAccepted) {
    bus.add_fault(Fault{FaultKind::WrongOperation, ReplyKind::FlashReply, 0x440, 1, 0, 1, 0x00});
    const std::vector<std::uint8_t> data = pattern(130);
    ASSERT_TRUE(upload(0x4000, data));
    EXPECT_EQ(flash(1, 0x4000, data.size()), data);
}

constexpr vk61::OperationStep kAddress = vk61::OperationStep::SetAddress;
constexpr vk61::OperationStep kChunk = vk61::OperationStep::WriteChunk;

struct FailureCase {
    const char* name;
    Fault fault;
    vk61::OperationStep step;
    vk61::FailureReason reason;
    std::vector<std::string> lines;  // logged, in this order
    std::size_t chunks_sent;         // the transfer stops at the failing step
    unsigned timeout_ms = 200;       // of each echo wait
};

void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.name; }

class FlashWriteFailure : public FlashWriteTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(FlashWriteFailure, failsAtTheStepWithItsLine) {
    const FailureCase& c = GetParam();
    bus.add_fault(c.fault);
    EXPECT_EQ(upload(0x1000, pattern(256), c.timeout_ms), vk61::OperationResult::failure(c.step, c.reason, 1));
    long at = -1;
    for (const std::string& line : c.lines) {
        const long found = line_index(log, line);
        EXPECT_GT(found, at) << line;
        at = found;
    }
    EXPECT_EQ(sent(0x420).size(), c.chunks_sent);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, FlashWriteFailure,
    ::testing::Values(FailureCase{"nack_second_chunk",
                                  {FaultKind::Nack, ReplyKind::FlashReply, 0x420, 1, 1},
                                  kChunk,
                                  vk61::FailureReason::Refused,
                                  {"fw_write: extflash NACK UID 1 op 0xAA",
                                   "extflash_raw: chunk failed at offset 64 (complete=1 failed=1)"},
                                  2},
                      FailureCase{"set_address_mismatch",
                                  {FaultKind::WrongAddress, ReplyKind::FlashReply, 0x440, 1, 0, 1, 0x2000},
                                  kAddress,
                                  vk61::FailureReason::AddressMismatch,
                                  {"fw_write: UID 1 set-addr mismatch (expected 0x00001000 got 0x00002000)",
                                   "extflash_raw: set-addr failed (complete=1 failed=1)"},
                                  0},
                      FailureCase{"write_wrong_operation",
                                  {FaultKind::WrongOperation, ReplyKind::FlashReply, 0x420, 1, 0, 1, 0xBE},
                                  kChunk,
                                  vk61::FailureReason::UnexpectedOperation,
                                  {"fw_write: UID 1 unexpected write op 0xBE",
                                   "extflash_raw: chunk failed at offset 0 (complete=1 failed=1)"},
                                  1},
                      FailureCase{"write_echo_mismatch",
                                  {FaultKind::WrongAddress, ReplyKind::FlashReply, 0x420, 1, 2, 1, 0x1234},
                                  kChunk,
                                  vk61::FailureReason::AddressMismatch,
                                  {"fw_write: UID 1 write address mismatch (expected 0x000010C0 got 0x00001234)",
                                   "extflash_raw: chunk failed at offset 128 (complete=1 failed=1)"},
                                  3},
                      // From its third chunk on the unit answers with its second chunk's
                      // address. With a 10 s echo time-out, complete=1 shows that the
                      // transfer ended on the unit's answer, not on the time-out.
                      FailureCase{"unit_stops_advancing",
                                  {FaultKind::StuckAddress, ReplyKind::FlashReply, 0x420, 1, 2, 0},
                                  kChunk,
                                  vk61::FailureReason::AddressMismatch,
                                  {"fw_write: UID 1 write address mismatch (expected 0x000010C0 got 0x00001080)\n",
                                   "extflash_raw: chunk failed at offset 128 (complete=1 failed=1)\n"},
                                  3,
                                  10000},
                      FailureCase{"lost_set_address_echo",
                                  {FaultKind::Drop, ReplyKind::FlashReply, 0x440, 1},
                                  kAddress,
                                  vk61::FailureReason::TimedOut,
                                  {"extflash_raw: set-addr failed (complete=0 failed=0)"},
                                  0},
                      FailureCase{"lost_chunk_echo",
                                  {FaultKind::Drop, ReplyKind::FlashReply, 0x420, 1, 2},
                                  kChunk,
                                  vk61::FailureReason::TimedOut,
                                  {"extflash_raw: chunk failed at offset 128 (complete=0 failed=0)"},
                                  3}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(FlashWriteTest, refusesWithoutSendingAnything) {
    const std::vector<std::uint8_t> data = pattern(10);
    EXPECT_FALSE(comms->extflash_raw(1, 0, nullptr, 10, 100, {}));
    EXPECT_FALSE(comms->extflash_raw(1, 0, data.data(), 0, 100, {}));
    vk61::CommsManager unconnected;
    EXPECT_FALSE(unconnected.extflash_raw(1, 0, data.data(), data.size(), 100, {}));
    EXPECT_TRUE(bus.host_frames().empty());
}

// A pulled cable or a disconnect ends the transfer on its own failure line,
// not on the (here 10 s) time-out: complete=1 (failed=0 when the wait saw the
// disconnecting flag before disconnect() marked the slot), or the next send
// refused.
const std::regex kPromptWriteFailure(
    "extflash_raw: (chunk failed at offset [0-9]+ \\(complete=1 failed=[01]\\)|failed to send write chunk at offset "
    "[0-9]+)\n");

bool logged_prompt_failure(const LogCapture& log) {
    for (const std::string& line : log.lines()) {
        if (std::regex_match(line, kPromptWriteFailure)) return true;
    }
    return false;
}

TEST_F(FlashWriteTest, cablePulledWhileAwaitingAnEchoEndsTheWait) {
    // The third echo never comes; the cable goes while the engine waits for it.
    bus.add_fault(Fault{FaultKind::Drop, ReplyKind::FlashReply, 0x420, 1, 2, 0});
    vk61::OperationResult result;
    std::thread worker([&] { result = upload(0x1000, pattern(1024), 10000); });
    ASSERT_TRUE(bus.wait_until([&] { return sent(0x420).size() == 3; }, std::chrono::milliseconds(3000)));
    vhid::pull_cable();
    worker.join();
    // Usually the wait notices the dead link; if the pull caught the third
    // send still inside the transport, that send fails instead.
    EXPECT_EQ(result.step, vk61::OperationStep::WriteChunk);
    EXPECT_TRUE(result.reason == vk61::FailureReason::LinkLost || result.reason == vk61::FailureReason::SendFailed)
        << describe(result);
}

TEST_F(FlashWriteTest, disconnectMidTransferEndsIt) {
    const std::vector<std::uint8_t> data = pattern(64 * 1024);
    vk61::OperationResult result;
    std::thread worker([&] { result = upload(0x1000, data, 10000); });
    ASSERT_TRUE(bus.wait_until([&] { return bus.host_frame_count() > 20; }, std::chrono::milliseconds(3000)));
    comms->disconnect();
    worker.join();
    EXPECT_EQ(result.step, vk61::OperationStep::WriteChunk);
    EXPECT_TRUE(result.reason == vk61::FailureReason::Disconnected || result.reason == vk61::FailureReason::SendFailed)
        << describe(result);
    EXPECT_TRUE(logged_prompt_failure(log));
    EXPECT_LT(sent(0x420).size(), 1024u);
}

}  // namespace
}  // namespace flashtest
