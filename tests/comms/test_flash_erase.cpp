// erase_fw_update_blocks: block geometry, the pairing of acknowledgements and
// replies, units side by side, and how a run fails.
#include <future>
#include <regex>
#include <thread>

#include "test_flash_support.h"

namespace flashtest {
namespace {

using sim::Fault;
using sim::FaultKind;
using sim::ReplyKind;
using vk61::FailureReason;
using vk61::FirmwareTarget;
using vk61::OperationResult;
using vk61::OperationStep;

OperationResult erase_failure(FailureReason why, std::uint8_t uid = 0) {
    return OperationResult::failure(OperationStep::Erase, why, uid);
}

constexpr std::uint32_t kBlock = 0x10000;

class FlashEraseTest : public FlashTest {
protected:
    OperationResult erase(const std::vector<FirmwareTarget>& targets, std::uint32_t size, unsigned timeout_ms = 2000) {
        return comms->erase_fw_update_blocks(targets, size, timeout_ms, progress.callback());
    }
    // Fills blocks [first, last] of a unit with a non-erased pattern.
    void fill_blocks(std::uint8_t uid, unsigned first, unsigned last) {
        for (unsigned block = first; block <= last; ++block) {
            ASSERT_TRUE(bus.preload_flash(uid, block << 16, std::vector<std::uint8_t>(kBlock, 0x5A)));
        }
    }
    bool block_is(std::uint8_t uid, unsigned block, std::uint8_t value) const {
        const std::vector<std::uint8_t> bytes = flash(uid, block << 16, kBlock);
        return bytes.size() == kBlock &&
               std::all_of(bytes.begin(), bytes.end(), [&](std::uint8_t b) { return b == value; });
    }
};

struct GeometryCase {
    const char* name;
    std::uint32_t address;
    std::uint32_t size;
    std::vector<unsigned> blocks;
};

class FlashEraseGeometry : public FlashEraseTest, public ::testing::WithParamInterface<GeometryCase> {};

TEST_P(FlashEraseGeometry, erasesExactlyTheBlocksTheSizeCovers) {
    const GeometryCase& c = GetParam();
    connect_units(1);
    const unsigned first = c.blocks.front(), last = c.blocks.back();
    fill_blocks(1, first - 1, last + 1);

    ASSERT_TRUE(erase({{1, c.address}}, c.size));

    EXPECT_EQ(erased_blocks(1), c.blocks);
    for (unsigned block : c.blocks) EXPECT_TRUE(block_is(1, block, 0xFF)) << "block " << block;
    EXPECT_TRUE(block_is(1, first - 1, 0x5A));
    EXPECT_TRUE(block_is(1, last + 1, 0x5A));
    const std::uint64_t n = c.blocks.size();
    const auto calls = progress.phase(0);
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls.front(), ProgressLog::Call(0, n, 0));
    EXPECT_EQ(calls.back(), ProgressLog::Call(n, n, 0));
    EXPECT_TRUE(log.contains("fw_erase: all blocks erased successfully"));
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, FlashEraseGeometry,
    ::testing::Values(GeometryCase{"one_byte", 0x00100000, 1, {0x10}},
                      GeometryCase{"one_block", 0x00100000, 0x10000, {0x10}},
                      GeometryCase{"one_block_and_a_byte", 0x00100000, 0x10001, {0x10, 0x11}},
                      GeometryCase{"two_blocks_mid_flash", 0x00230000, 0x20000, {0x23, 0x24}},
                      // An address inside a block: the run reaches the block
                      // of the last byte, one more than the size alone says.
                      GeometryCase{"unaligned_ends_at_block_end", 0x0010F000, 0x1000, {0x10}},
                      GeometryCase{"unaligned_one_byte_over", 0x0010F000, 0x1001, {0x10, 0x11}},
                      GeometryCase{"last_byte_of_a_block", 0x0010FFFF, 1, {0x10}},
                      GeometryCase{"two_bytes_across_a_boundary", 0x0010FFFF, 2, {0x10, 0x11}},
                      GeometryCase{
                          "three_blocks_from_inside_a_block", 0x0350F000, 0x30000, {0x350, 0x351, 0x352, 0x353}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(FlashEraseTest, runMayEndAtBlockFFFEButNeverReachFFFF) {
    connect_units(2);
    // Accepted: the command for block 0xFFFE goes out (the simulated 64 MiB
    // flash then refuses it, which is the unit's business).
    erase({{1, 0xFFFE0000}}, 1, 500);
    EXPECT_EQ(erased_blocks(1), std::vector<unsigned>{0xFFFE});
    EXPECT_FALSE(log.contains("fw_erase: no blocks to erase"));

    struct Refused {
        std::vector<FirmwareTarget> targets;
        std::uint32_t size;
        std::uint8_t uid;  // the unit whose range is refused
    };
    const Refused refused[] = {
        {{{1, 0xFFFF0000}}, 1, 1},
        {{{1, 0xFFFE0000}}, 0x10001, 1},
        // Refused before any command, also for the unit whose range was fine.
        {{{1, 0x00100000}, {2, 0xFFFF0000}}, 1, 2},
        // One byte inside block 0xFFFE is fine, but the last byte lands in 0xFFFF.
        {{{1, 0xFFFEFFFF}}, 2, 1},
    };
    for (const Refused& r : refused) {
        bus.clear_host_frames();
        EXPECT_EQ(erase(r.targets, r.size), erase_failure(FailureReason::InvalidRequest, r.uid));
        EXPECT_TRUE(sent(0x430).empty());
    }
    bus.clear_host_frames();
    EXPECT_EQ(erase({}, 1), erase_failure(FailureReason::InvalidRequest));
    EXPECT_EQ(erase({{1, 0}}, 0), erase_failure(FailureReason::InvalidRequest));
    EXPECT_TRUE(bus.host_frames().empty());
}

TEST_F(FlashEraseTest, eachUnitErasesTheBlocksItsOwnAddressNeeds) {
    connect_units(3);
    // 0x30000 bytes: three blocks from UID 1's aligned address, four from the
    // others', whose addresses lie inside a block.
    ASSERT_TRUE(erase({{1, 0x00100000}, {2, 0x0020F000}, {3, 0x00300040}}, 0x30000));
    EXPECT_EQ(erased_blocks(1), (std::vector<unsigned>{0x10, 0x11, 0x12}));
    EXPECT_EQ(erased_blocks(2), (std::vector<unsigned>{0x20, 0x21, 0x22, 0x23}));
    EXPECT_EQ(erased_blocks(3), (std::vector<unsigned>{0x30, 0x31, 0x32, 0x33}));
    EXPECT_TRUE(log.contains("fw_erase: UID 1 will erase 3 block(s) starting at block 16\n"));
    EXPECT_TRUE(log.contains("fw_erase: UID 2 will erase 4 block(s) starting at block 32\n"));
    EXPECT_TRUE(log.contains("fw_erase: UID 3 will erase 4 block(s) starting at block 48\n"));
    const auto calls = progress.phase(0);
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls.front(), ProgressLog::Call(0, 11, 0));
    EXPECT_EQ(calls.back(), ProgressLog::Call(11, 11, 0));
}

// An acknowledgement from the right unit for the right command, but carrying
// the sequence number of another erase (an old one, or one not yet sent),
// belongs to no block in flight: it neither moves the block on to await its
// erase reply nor fails the run, whatever its status.
struct StaleAckCase {
    const char* name;
    int sequence_offset;  // from the sequence of the erase in flight
    std::uint8_t status;
};

void PrintTo(const StaleAckCase& c, std::ostream* os) { *os << c.name; }

class FlashEraseStaleAck : public FlashEraseTest, public ::testing::WithParamInterface<StaleAckCase> {};

TEST_P(FlashEraseStaleAck, isIgnored) {
    const StaleAckCase& c = GetParam();
    connect_units(1);
    // The unit stays silent about its erase commands; the test answers for it.
    bus.add_fault(Fault{FaultKind::Drop, ReplyKind::Any, 0x430, 1, 0, 0});
    // Sequence numbers used before the run, so that "older" ones were real.
    comms->next_sequence();
    comms->next_sequence();
    auto run = std::async(std::launch::async, [&] { return erase({{1, 0x00100000}}, 1, 5000); });
    ASSERT_TRUE(wait_sent(0x430));
    const std::uint32_t sequence = vk61::get_u24(sent(0x430).front().data() + 1);
    const auto ack = [&](std::uint32_t seq, std::uint8_t status) {
        inject(0x0E1, 7, commstest::bytes_of({{1}, {0x31, 0x04}, {status}, commstest::le24(seq)}));
    };
    const std::vector<std::uint8_t> erased = commstest::bytes_of({{1, 0xBE}, commstest::le32(0x00100000), {1}});

    ack(static_cast<std::uint32_t>(static_cast<int>(sequence) + c.sequence_offset), c.status);
    inject(0x0F1, 7, erased);  // counts only if the stale ack had moved the block on
    settle();
    EXPECT_FALSE(log.contains("fw_erase: UID 1 block 16 erased")) << "the stale ack moved the block on";
    EXPECT_FALSE(log.contains("NACK")) << "the stale ack failed the run";

    ack(sequence, 1);
    inject(0x0F1, 7, erased);
    EXPECT_TRUE(run.get());
    EXPECT_TRUE(log.contains("fw_erase: UID 1 block 16 erased (addr 0x00100000)\n"));
}

INSTANTIATE_TEST_SUITE_P(Acks, FlashEraseStaleAck,
                         ::testing::Values(StaleAckCase{"older_done", -1, 1}, StaleAckCase{"older_refused", -1, 0},
                                           StaleAckCase{"newer_done", 1, 1}, StaleAckCase{"newer_refused", 1, 7}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(FlashEraseTest, replyBeforeItsAcknowledgementIsIgnored) {
    connect_units(1);
    fill_blocks(1, 0x10, 0x10);
    // The unit sends the erase reply first and the acknowledgement after it.
    bus.add_fault(Fault{FaultKind::Reorder, ReplyKind::SequencedAck, 0x430, 1});
    EXPECT_EQ(erase({{1, 0x00100000}}, 1, 300), erase_failure(FailureReason::TimedOut, 1));
    EXPECT_FALSE(log.contains("fw_erase: UID 1 block 16 erased"));
    EXPECT_TRUE(block_is(1, 0x10, 0xFF));  // the unit did erase; the run did not count it
}

TEST_F(FlashEraseTest, unitsWorkSideBySideWithOneBlockInFlightEach) {
    connect_units(3);
    // UID 2's first erase reply never comes: it must get no second command,
    // while the other two units erase all their blocks.
    bus.add_fault(Fault{FaultKind::Drop, ReplyKind::FlashReply, 0x430, 2});
    EXPECT_EQ(erase({{1, 0x00100000}, {2, 0x00100000}, {3, 0x00100000}}, 3 * kBlock, 500),
              erase_failure(FailureReason::TimedOut, 2));
    EXPECT_EQ(erased_blocks(1), (std::vector<unsigned>{0x10, 0x11, 0x12}));
    EXPECT_EQ(erased_blocks(2), std::vector<unsigned>{0x10});
    EXPECT_EQ(erased_blocks(3), (std::vector<unsigned>{0x10, 0x11, 0x12}));
}

struct RunFailureCase {
    const char* name;
    Fault fault;
    OperationResult result;
    const char* line;
};

class FlashEraseFailure : public FlashEraseTest, public ::testing::WithParamInterface<RunFailureCase> {};

TEST_P(FlashEraseFailure, oneUnitFailsTheRunForAll) {
    const RunFailureCase& c = GetParam();
    connect_units(3);
    bus.add_fault(c.fault);
    EXPECT_EQ(erase({{1, 0x00100000}, {2, 0x00100000}, {3, 0x00100000}}, 8 * kBlock, 5000), c.result);
    EXPECT_TRUE(log.contains(c.line)) << c.line;
    EXPECT_LT(sent(0x430).size(), 24u);  // no block is sent once the run failed
}

INSTANTIATE_TEST_SUITE_P(
    Faults, FlashEraseFailure,
    ::testing::Values(RunFailureCase{"acknowledgement_nack",
                                     {FaultKind::Nack, ReplyKind::SequencedAck, 0x430, 2, 1},
                                     erase_failure(FailureReason::Refused, 2),
                                     "fw_erase: NACK from UID 2 for block 17 seq="},
                      RunFailureCase{"reply_nack",
                                     {FaultKind::Nack, ReplyKind::FlashReply, 0x430, 3, 0},
                                     erase_failure(FailureReason::Refused, 3),
                                     "fw_erase: extflash NACK UID 3 block 16\n"},
                      RunFailureCase{"reply_wrong_operation",
                                     {FaultKind::WrongOperation, ReplyKind::FlashReply, 0x430, 1, 0, 1, 0xAA},
                                     erase_failure(FailureReason::UnexpectedOperation, 1),
                                     "fw_erase: UID 1 unexpected op 0xAA (expected block erase)\n"},
                      RunFailureCase{
                          "reply_wrong_address",
                          {FaultKind::WrongAddress, ReplyKind::FlashReply, 0x430, 1, 0, 1, 0x00110000},
                          erase_failure(FailureReason::AddressMismatch, 1),
                          "fw_erase: UID 1 address mismatch block 16 (expected 0x00100000 got 0x00110000)\n"}),
    [](const auto& info) { return std::string(info.param.name); });

// Ended by a pulled cable or a disconnect: a failure line of the run that is
// not the time-out's (complete=0), or the next send refused.
bool logged_prompt_failure(const LogCapture& log) {
    static const std::regex prompt(
        "fw_erase: (failed \\(complete=1 failed=[01]\\)|failed to send erase for UID [0-9]+ block [0-9]+)\n");
    for (const std::string& line : log.lines()) {
        if (std::regex_match(line, prompt)) return true;
    }
    return false;
}

TEST_F(FlashEraseTest, cablePulledWhileAwaitingRepliesEndsTheRun) {
    connect_units(2);
    // From its second block on, UID 2 never reports a block erased.
    bus.add_fault(Fault{FaultKind::Drop, ReplyKind::FlashReply, 0x430, 2, 1, 0});
    OperationResult result;
    std::thread worker([&] { result = erase({{1, 0x00100000}, {2, 0x00100000}}, 4 * kBlock, 10000); });
    ASSERT_TRUE(bus.wait_until([&] { return erased_blocks(2).size() == 2 && erased_blocks(1).size() == 4; },
                               std::chrono::milliseconds(3000)));
    vhid::pull_cable();
    worker.join();
    EXPECT_EQ(result.step, OperationStep::Erase);
    // UID 1's last erase may go out from the receive thread as the cable goes.
    EXPECT_TRUE(result.reason == FailureReason::LinkLost || result.reason == FailureReason::SendFailed)
        << describe(result);
    EXPECT_TRUE(log.contains("fw_erase: failed (complete=1 failed=1)\n"));
}

TEST_F(FlashEraseTest, disconnectMidRunEndsIt) {
    connect_units(3);
    bus.set_latency(std::chrono::milliseconds(5));
    OperationResult result;
    std::thread worker([&] {
        result = erase({{1, 0x00100000}, {2, 0x00100000}, {3, 0x00100000}}, 40 * kBlock, 10000);
    });
    ASSERT_TRUE(bus.wait_until([&] { return sent(0x430).size() >= 6; }, std::chrono::milliseconds(3000)));
    comms->disconnect();
    worker.join();
    EXPECT_EQ(result.step, OperationStep::Erase);
    // Or the next send refused, when disconnect() closed the link first.
    EXPECT_TRUE(result.reason == FailureReason::Disconnected || result.reason == FailureReason::SendFailed)
        << describe(result);
    EXPECT_TRUE(logged_prompt_failure(log));
    EXPECT_LT(sent(0x430).size(), 120u);
}

}  // namespace
}  // namespace flashtest
