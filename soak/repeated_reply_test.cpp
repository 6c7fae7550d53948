// Repeated and stray flash replies during a write transfer, as the fault soak
// met them: a second copy of an erase reply, of the set-address echo or of a
// chunk echo reaches the engine after the step it answered is over. Each
// copy repeats what the unit already said; the transfer must carry on. A
// reply that is really wrong must still end it.
//
// The original echo of the step in flight is held back by a Delay fault, and
// the stray copy is put on the bus once the engine has sent that step's
// frame, so the copy arrives while the step waits. A copy of the previous
// chunk echo is also what a unit that stopped advancing sends: it passes only
// when the step's own echo follows within the engine's grace (250 ms), so the
// echo is held back 50 ms where it must pass and 1500 ms where it must not.
#include <future>

#include "test_flash_support.h"

namespace flashtest {
namespace {

using commstest::le32;
using sim::Fault;
using sim::FaultKind;
using sim::ReplyKind;

constexpr std::uint32_t kAddress = 0x00040000;

struct StrayReplyCase {
    const char* name;
    Fault hold_back;                  // delays the genuine echo of the step in flight
    std::uint32_t step_frame;         // host command base of that step
    std::size_t step_frames;          // how many such frames the engine has sent by then
    std::vector<std::uint8_t> stray;  // flash reply payload put on the bus (UID 1)
    bool completes;
    const char* failure_line;  // when it must not complete
    vk61::OperationResult result{};
};

void PrintTo(const StrayReplyCase& c, std::ostream* os) { *os << c.name; }

class StrayFlashReply : public FlashTest, public ::testing::WithParamInterface<StrayReplyCase> {};

TEST_P(StrayFlashReply, writeTransferTellsRepeatsFromRealFaults) {
    const StrayReplyCase& c = GetParam();
    connect_units(1);
    const std::vector<std::uint8_t> data = pattern(130);  // chunks of 64, 64 and 2 bytes
    bus.add_fault(c.hold_back);

    auto upload = std::async(std::launch::async, [&] {
        return comms->extflash_raw(1, kAddress, data.data(), data.size(), 2000, progress.callback());
    });
    ASSERT_TRUE(wait_sent(c.step_frame, c.step_frames));
    inject(0x0F1, 7, c.stray);
    const vk61::OperationResult result = upload.get();

    EXPECT_EQ(result.ok(), c.completes);
    EXPECT_EQ(result, c.result) << describe(result);
    if (c.completes) {
        EXPECT_TRUE(flash(1, kAddress, data.size()) == data) << "the unit holds the data";
        EXPECT_FALSE(log.contains("unexpected") || log.contains("mismatch")) << "no line about the stray copy";
    } else {
        EXPECT_TRUE(log.contains(c.failure_line)) << c.failure_line;
    }
}

std::vector<std::uint8_t> flash_reply(std::uint8_t op, std::uint32_t address, std::uint8_t status = 1) {
    return commstest::bytes_of({{1, op}, le32(address), {status}});
}

INSTANTIATE_TEST_SUITE_P(
    Replies, StrayFlashReply,
    ::testing::Values(
        // The erase run just ended; a second copy of its last reply comes in
        // while the write waits for the set-address echo.
        StrayReplyCase{"erase_reply_copy_during_set_address",
                       Fault{FaultKind::Delay, ReplyKind::FlashReply, 0x440, 1, 0, 1, 50}, 0x440, 1,
                       flash_reply(0xBE, 0), true, ""},
        StrayReplyCase{"set_address_echo_copy_during_first_chunk",
                       Fault{FaultKind::Delay, ReplyKind::FlashReply, 0x420, 1, 0, 1, 50}, 0x420, 1,
                       flash_reply(0xA1, kAddress), true, ""},
        StrayReplyCase{"first_chunk_echo_copy_during_second_chunk",
                       Fault{FaultKind::Delay, ReplyKind::FlashReply, 0x420, 1, 1, 1, 50}, 0x420, 2,
                       flash_reply(0xAA, kAddress + 64), true, ""},
        // The same repeat with nothing after it within the grace: the unit's
        // answer to the second chunk named the first chunk's address.
        StrayReplyCase{
            "first_chunk_echo_repeated_and_nothing_else",
            Fault{FaultKind::Delay, ReplyKind::FlashReply, 0x420, 1, 1, 1, 1500}, 0x420, 2,
            flash_reply(0xAA, kAddress + 64), false,
            "fw_write: UID 1 write address mismatch (expected 0x00040080 got 0x00040040)\n",
            vk61::OperationResult::failure(vk61::OperationStep::WriteChunk, vk61::FailureReason::AddressMismatch, 1)},
        // A refusal is never taken for a repeat, not even of an erase reply.
        StrayReplyCase{
            "refused_erase_reply_copy_during_set_address",
            Fault{FaultKind::Delay, ReplyKind::FlashReply, 0x440, 1, 0, 1, 50}, 0x440, 1, flash_reply(0xBE, 0, 0),
            false, "fw_write: extflash NACK UID 1 op 0xBE\n",
            vk61::OperationResult::failure(vk61::OperationStep::SetAddress, vk61::FailureReason::Refused, 1)},
        // Not repeats: a set-address echo naming another address, and a chunk
        // echo that is neither the last one nor the awaited one.
        StrayReplyCase{"set_address_echo_of_another_address",
                       Fault{FaultKind::Delay, ReplyKind::FlashReply, 0x420, 1, 0, 1, 50}, 0x420, 1,
                       flash_reply(0xA1, kAddress + 0x100), false, "fw_write: UID 1 unexpected write op 0xA1\n",
                       vk61::OperationResult::failure(vk61::OperationStep::WriteChunk,
                                                      vk61::FailureReason::UnexpectedOperation, 1)},
        StrayReplyCase{
            "chunk_echo_at_a_wrong_address", Fault{FaultKind::Delay, ReplyKind::FlashReply, 0x420, 1, 1, 1, 50}, 0x420,
            2, flash_reply(0xAA, kAddress + 96), false,
            "fw_write: UID 1 write address mismatch (expected 0x00040080 got 0x00040060)\n",
            vk61::OperationResult::failure(vk61::OperationStep::WriteChunk, vk61::FailureReason::AddressMismatch, 1)},
        StrayReplyCase{
            "refusal_during_a_chunk", Fault{FaultKind::Delay, ReplyKind::FlashReply, 0x420, 1, 1, 1, 50}, 0x420, 2,
            flash_reply(0xAA, kAddress + 64, 0), false, "fw_write: extflash NACK UID 1 op 0xAA\n",
            vk61::OperationResult::failure(vk61::OperationStep::WriteChunk, vk61::FailureReason::Refused, 1)}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace flashtest
