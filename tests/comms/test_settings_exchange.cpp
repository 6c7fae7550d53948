// Setting reads, sequenced writes and stores, plain acknowledgements, and how
// disconnect ends every wait. Results are checked against what the simulated
// units hold.
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <functional>
#include <future>

#include "comms_test_support.h"

namespace commstest {
namespace {

using sim::Fault;
using sim::FaultKind;
using sim::ReplyKind;
using vk61::FailureReason;
using vk61::OperationResult;
using vk61::OperationStep;

constexpr OperationStep kClose = OperationStep::CloseDatabase;

class SettingsExchangeTest : public CommsFixture {
protected:
    // Sequence numbers of the sequenced commands the host sent with this base.
    std::vector<std::uint32_t> sequences(std::uint32_t base, std::size_t offset) const {
        std::vector<std::uint32_t> out;
        for (const vk61::BusFrame& f : sent(base)) out.push_back(vk61::get_u24(f.data() + offset));
        return out;
    }
    std::uint32_t last_write_sequence() const {
        const auto all = sequences(0x390, 5);
        EXPECT_FALSE(all.empty());
        return all.empty() ? 0 : all.back();
    }
    void drop_all_sequenced_acks() { bus.add_fault(Fault{FaultKind::Drop, ReplyKind::SequencedAck, 0, 0, 0, 0}); }
    bool send_db_close(std::uint8_t uid) {
        return comms->transmit(comms->interface_kind(), frame_of(0x450u | uid, 1, {0xDC}));
    }
};

TEST_F(SettingsExchangeTest, readReturnsWhatThePrimaryUnitHolds) {
    connect_units(2);
    ASSERT_TRUE(bus.set_ram_element(1, 15, 0x12345678));
    ASSERT_TRUE(bus.set_ram_element(1, 16, 0xFFFFFFFF));

    std::uint32_t value = 0;
    EXPECT_TRUE(comms->read_setting_value(15, 500, &value));
    EXPECT_EQ(value, 0x12345678u);
    EXPECT_EQ(log.count_exact("settings_rx: matched uid=1 index=0x0F value=0x12345678\n"), 1u);
    const auto request = sent(0x370);
    ASSERT_EQ(request.size(), 1u);
    EXPECT_EQ(request[0].identifier(), 0x371u);
    EXPECT_EQ(request[0].dlc(), 2);
    EXPECT_EQ(request[0].data()[0], 0x00);
    EXPECT_EQ(request[0].data()[1], 15);

    // A stored 0xFFFFFFFF: read_setting cannot tell it from a failure,
    // read_setting_value can.
    EXPECT_TRUE(comms->read_setting_value(16, 500, &value));
    EXPECT_EQ(value, 0xFFFFFFFFu);
    EXPECT_FALSE(log.contains("read_setting: timeout"));

    // Index 0x64 is no element: the unit stays silent.
    EXPECT_EQ(comms->read_setting_value(0x64, 100, &value),
              OperationResult::failure(OperationStep::ReadSetting, FailureReason::TimedOut, 1));
    EXPECT_EQ(log.count_exact("read_setting: timeout UID 1 index 0x64\n"), 1u);
}

struct ReadFaultCase {
    const char* name;
    Fault fault;
    bool succeeds;
    std::vector<std::string> lines;   // must appear, in this order
    std::vector<std::string> absent;  // texts no line may contain
};

class ReadFaultTest : public CommsFixture, public ::testing::WithParamInterface<ReadFaultCase> {};

TEST_P(ReadFaultTest, replyIsMatchedByIndexAndLengthChecked) {
    const ReadFaultCase& c = GetParam();
    connect_units(2);
    ASSERT_TRUE(bus.set_ram_element(1, 15, 0x01020304));
    bus.add_fault(c.fault);
    log.clear();

    std::uint32_t value = 0;
    EXPECT_EQ(comms->read_setting_value(15, 200, &value).ok(), c.succeeds);
    if (c.succeeds) {
        EXPECT_EQ(value, 0x01020304u);
    }

    const auto lines = log.lines();
    auto at = lines.begin();
    for (const std::string& wanted : c.lines) {
        at = std::find(at, lines.end(), wanted);
        ASSERT_NE(at, lines.end()) << "missing or out of order: " << wanted;
    }
    for (const std::string& text : c.absent) EXPECT_FALSE(log.contains(text)) << text;
}

INSTANTIATE_TEST_SUITE_P(
    Replies, ReadFaultTest,
    ::testing::Values(ReadFaultCase{"uid0Accepted",
                                    Fault{FaultKind::WrongUid, ReplyKind::SettingReply, 0x370, 1, 0, 1, 0},
                                    true,
                                    {"settings_rx: matched uid=0 index=0x0F value=0x01020304\n"},
                                    {"uid mismatch", "timeout"}},
                      ReadFaultCase{"otherUnitAcceptedByIndex",
                                    Fault{FaultKind::WrongUid, ReplyKind::SettingReply, 0x370, 1, 0, 1, 2},
                                    true,
                                    {"settings_rx: uid mismatch got=2 want=1 (accepting by index only)\n",
                                     "settings_rx: matched uid=2 index=0x0F value=0x01020304\n"},
                                    {"timeout"}},
                      ReadFaultCase{"fiveBytesRejected",
                                    Fault{FaultKind::ShortPayload, ReplyKind::SettingReply, 0x370, 1, 0, 1, 5},
                                    false,
                                    {"settings_rx: reject short payload can=0x381 dlc=5 bytes=5\n",
                                     "read_setting: timeout UID 1 index 0x0F\n"},
                                    {"matched"}},
                      ReadFaultCase{"dlc0Rejected",
                                    Fault{FaultKind::ShortPayload, ReplyKind::SettingReply, 0x370, 1, 0, 1, 0},
                                    false,
                                    {"settings_rx: reject short payload can=0x381 dlc=0 bytes=0\n",
                                     "read_setting: timeout UID 1 index 0x0F\n"},
                                    {"matched"}},
                      ReadFaultCase{"otherIndexKeepsWaiting",
                                    Fault{FaultKind::WrongIndex, ReplyKind::SettingReply, 0x370, 1, 0, 1, 16},
                                    false,
                                    {"settings_rx: index mismatch got=0x10 want=0x0F (uid got=1 want=1)\n",
                                     "read_setting: timeout UID 1 index 0x0F\n"},
                                    {"matched"}},
                      ReadFaultCase{"noReply",
                                    Fault{FaultKind::Drop, ReplyKind::SettingReply, 0x370, 1, 0, 1, 0},
                                    false,
                                    {"read_setting: timeout UID 1 index 0x0F\n"},
                                    {"settings_rx: got", "matched"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SettingsExchangeTest, writeAndStoreReachEveryUnit) {
    connect_units(15);
    bus.send_occupancy_report();
    settle();

    ASSERT_TRUE(comms->write_setting(20, 0xCAFEBABE, 1000));
    ASSERT_TRUE(comms->save_user_settings(0x0BADF00D, 5000));
    for (std::uint8_t uid = 1; uid <= 15; ++uid) {
        SCOPED_TRACE(int(uid));
        EXPECT_EQ(bus.ram_element(uid, 20), 0xCAFEBABEu);
        EXPECT_EQ(bus.eeprom_element(uid, 20), 0xCAFEBABEu);
        EXPECT_EQ(bus.eeprom_element(uid, 252), 0x0BADF00Du);
    }
    const auto write = sent(0x390);
    ASSERT_EQ(write.size(), 1u);
    EXPECT_EQ(write[0].identifier(), 0x390u);
    EXPECT_EQ(write[0].dlc(), 8);
    EXPECT_EQ(write[0].data()[0], 20);
    EXPECT_EQ(vk61::get_u32(write[0].data() + 1), 0xCAFEBABEu);
    const auto store = sent(0x3A0);
    ASSERT_EQ(store.size(), 1u);
    EXPECT_EQ(store[0].dlc(), 7);
    EXPECT_EQ(vk61::get_u32(store[0].data()), 0x0BADF00Du);
    EXPECT_FALSE(log.contains("failed"));
}

struct TargetCase {
    const char* name;
    unsigned units;  // UIDs 1..units on the bus
    bool report;
    std::uint32_t occupied, alive;
    unsigned pending;  // target mask, seen in the failure line when nobody acknowledges
};

class TargetMaskTest : public CommsFixture, public ::testing::WithParamInterface<TargetCase> {};

TEST_P(TargetMaskTest, sequencedCommandWaitsForTheTargetMask) {
    const TargetCase& c = GetParam();
    connect_units(c.units);
    if (c.report) {
        bus.send_occupancy_report(c.occupied, c.alive);
        settle();
    }
    bus.add_fault(Fault{FaultKind::Drop, ReplyKind::SequencedAck, 0, 0, 0, 0});
    EXPECT_FALSE(comms->write_setting(1, 2, 100));
    const auto write = sent(0x390);
    ASSERT_EQ(write.size(), 1u);
    char line[128];
    std::snprintf(line, sizeof line, "write_setting: failed cmd=0x390 seq=%u pending_mask=0x%02X failed=0\n",
                  vk61::get_u24(write[0].data() + 5), c.pending);
    EXPECT_EQ(log.count_exact(line), 1u) << line;
}

INSTANTIATE_TEST_SUITE_P(Masks, TargetMaskTest,
                         ::testing::Values(TargetCase{"aliveMask", 4, true, 0x1E, 0x0C, 0x0C},
                                           TargetCase{"occupiedWhenNoneAlive", 4, true, 0x1A, 0x00, 0x1A},
                                           TargetCase{"bit0Cleared", 4, true, 0x01, 0x05, 0x04},
                                           TargetCase{"registryWithoutReport", 3, false, 0, 0, 0x0E},
                                           TargetCase{"uid1WhenNothingKnown", 0, false, 0, 0, 0x02}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(SettingsExchangeTest, writeCountsOnlyTargetUnitsWithTheRightSequence) {
    connect_units(4);
    bus.send_occupancy_report(0x1E, 0x0C);  // targets: UIDs 2 and 3
    settle();

    // All four units acknowledge: 1 and 4 are not waited for.
    ASSERT_TRUE(comms->write_setting(21, 0x600DF00D, 1000));
    for (std::uint8_t uid : {2, 3}) EXPECT_EQ(bus.ram_element(uid, 21), 0x600DF00Du);

    // UID 3 stays silent and UID 2 answers with a stale sequence; the
    // acknowledgements of UIDs 1 and 4 must not stand in for them.
    bus.add_fault(Fault{FaultKind::Drop, ReplyKind::SequencedAck, 0x390, 3, 0, 1});
    bus.add_fault(Fault{FaultKind::WrongSequence, ReplyKind::SequencedAck, 0x390, 2, 0, 1, 0x0ABCDE});
    EXPECT_FALSE(comms->write_setting(21, 0x0BAD, 200));
    char line[128];
    std::snprintf(line, sizeof line, "write_setting: failed cmd=0x390 seq=%u pending_mask=0x0C failed=0\n",
                  last_write_sequence());
    EXPECT_EQ(log.count_exact(line), 1u) << line;
}

TEST_F(SettingsExchangeTest, bit0OfTheAliveMaskNeverMakesATarget) {
    // Alive 0x01 holds only bit 0, which names no unit: the occupied units
    // 2 and 3 are the targets, and UID 1 is not waited for.
    connect_units(3);
    bus.send_occupancy_report(0x0C, 0x01);
    settle();
    bus.add_fault(Fault{FaultKind::Drop, ReplyKind::SequencedAck, 0x390, 1, 0, 0});
    EXPECT_TRUE(comms->write_setting(21, 0x600DF00D, 1000));

    bus.clear_faults();
    bus.add_fault(Fault{FaultKind::Drop, ReplyKind::SequencedAck, 0x390, 2, 0, 1});
    EXPECT_FALSE(comms->write_setting(21, 0x0BAD, 200));
    const auto failures = log.matching("write_setting: failed cmd=0x390 ");
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_NE(failures[0].find("pending_mask=0x04 "), std::string::npos) << failures[0];
}

TEST_F(SettingsExchangeTest, withNothingKnownOnlyUid1IsAwaited) {
    connect_bus();  // empty bus: no registry, no masks
    auto write = std::async(std::launch::async, [&] { return comms->write_setting(2, 3, 5000); });
    ASSERT_TRUE(wait_sent(0x390));
    const std::uint32_t seq = last_write_sequence();

    inject(0x0E2, 7, bytes_of({{2}, {0x90, 0x03}, {1}, le24(seq)}));      // UID 2: not a target
    inject(0x0E1, 7, bytes_of({{1}, {0x90, 0x03}, {1}, le24(seq + 1)}));  // UID 1, another sequence
    inject(0x0E1, 7, bytes_of({{1}, {0xA0, 0x03}, {1}, le24(seq)}));      // UID 1, another command
    settle();
    EXPECT_EQ(write.wait_for(0ms), std::future_status::timeout);

    inject(0x0E1, 7, bytes_of({{1}, {0x90, 0x03}, {1}, le24(seq)}));
    ASSERT_EQ(write.wait_for(kWaitLimit), std::future_status::ready);
    EXPECT_TRUE(write.get());
}

struct RefusalCase {
    const char* name;
    Fault fault;
    std::string unit_line;  // %u: the sequence
};

class RefusalTest : public SettingsExchangeTest, public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(RefusalTest, refusalEndsTheWaitAtOnce) {
    const RefusalCase& c = GetParam();
    connect_units(3);
    bus.add_fault(c.fault);
    // A long time-out: only the refusal can end this wait early.
    EXPECT_FALSE(comms->write_setting(1, 2, 20000));
    const std::uint32_t seq = last_write_sequence();
    char line[128];
    std::snprintf(line, sizeof line, c.unit_line.c_str(), seq);
    EXPECT_EQ(log.count_exact(line), 1u) << line;

    const auto failures = log.matching("write_setting: failed cmd=0x390 seq=" + std::to_string(seq) + " ");
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_NE(failures[0].find(" failed=1\n"), std::string::npos) << failures[0];
}

INSTANTIATE_TEST_SUITE_P(
    Status, RefusalTest,
    ::testing::Values(RefusalCase{"nack", Fault{FaultKind::Nack, ReplyKind::SequencedAck, 0x390, 2},
                                  "sequenced_cmd: NACK from UID 2 for cmd 0x390 seq=%u\n"},
                      RefusalCase{"invalidStatus",
                                  Fault{FaultKind::BadStatus, ReplyKind::SequencedAck, 0x390, 2, 0, 1, 7},
                                  "sequenced_cmd: invalid ACK status 7 from UID 2\n"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SettingsExchangeTest, sequenceNumbersFollowEachOtherAndSkipZeroOnWrap) {
    connect_units(2);
    ASSERT_TRUE(comms->write_setting(1, 10, 1000));
    ASSERT_TRUE(comms->save_user_settings(0x1111, 5000));
    const std::uint32_t first = sequences(0x390, 5).at(0);
    EXPECT_NE(first, 0u);
    EXPECT_EQ(sequences(0x3A0, 4).at(0), first + 1);

    // Run the shared counter up to the end of the 24-bit range.
    while (comms->next_sequence() != 0xFFFFFE) {}
    bus.clear_host_frames();
    ASSERT_TRUE(comms->write_setting(1, 11, 1000));
    ASSERT_TRUE(comms->write_setting(1, 12, 1000));
    ASSERT_TRUE(comms->save_user_settings(0x2222, 5000));
    EXPECT_EQ(sequences(0x390, 5), (std::vector<std::uint32_t>{0xFFFFFF, 1}));
    EXPECT_EQ(sequences(0x3A0, 4), (std::vector<std::uint32_t>{2}));
    for (std::uint8_t uid : {1, 2}) {
        EXPECT_EQ(bus.ram_element(uid, 1), 12u);
        EXPECT_EQ(bus.eeprom_element(uid, 252), 0x2222u);
    }
}

TEST_F(SettingsExchangeTest, plainAcknowledgementOfOneUnit) {
    connect_units(2);
    EXPECT_TRUE(comms->wait_legacy_ack(
        1, 0x451, [&] { return send_db_close(1); }, 1000, kClose));
    EXPECT_FALSE(bus.unit_status(1)->db_open);
    EXPECT_TRUE(bus.unit_status(2)->db_open);
    EXPECT_FALSE(log.contains("legacy_ack"));

    // A send step that fails: no wait, no line.
    EXPECT_FALSE(comms->wait_legacy_ack(
        1, 0x451, [] { return false; }, 1000, kClose));
    EXPECT_FALSE(log.contains("legacy_ack"));
}

struct PlainFaultCase {
    const char* name;
    Fault fault;
    vk61::FailureReason reason;
    std::vector<std::string> lines;
};

class PlainAckFaultTest : public SettingsExchangeTest, public ::testing::WithParamInterface<PlainFaultCase> {};

TEST_P(PlainAckFaultTest, failuresAreReportedWithTheirLines) {
    const PlainFaultCase& c = GetParam();
    connect_units(2);
    bus.add_fault(c.fault);
    log.clear();
    EXPECT_EQ(comms->wait_legacy_ack(
                  2, 0x452, [&] { return send_db_close(2); }, 200, kClose),
              vk61::OperationResult::failure(kClose, c.reason, 2));
    EXPECT_EQ(log.lines(), c.lines);
}

INSTANTIATE_TEST_SUITE_P(
    Status, PlainAckFaultTest,
    ::testing::Values(PlainFaultCase{"nack",
                                     Fault{FaultKind::Nack, ReplyKind::PlainAck, 0x450, 2},
                                     vk61::FailureReason::Refused,
                                     {"legacy_ack: NACK from UID 2 for cmd 0x452\n",
                                      "legacy_ack: failed uid=2 cmd=0x452 complete=0 failed=1\n"}},
                      PlainFaultCase{"invalidStatus",
                                     Fault{FaultKind::BadStatus, ReplyKind::PlainAck, 0x450, 2, 0, 1, 9},
                                     vk61::FailureReason::InvalidStatus,
                                     {"legacy_ack: invalid status 9 from UID 2\n",
                                      "legacy_ack: failed uid=2 cmd=0x452 complete=0 failed=1\n"}},
                      PlainFaultCase{"silence",
                                     Fault{FaultKind::Drop, ReplyKind::PlainAck, 0x450, 2},
                                     vk61::FailureReason::TimedOut,
                                     {"legacy_ack: failed uid=2 cmd=0x452 complete=0 failed=0\n"}},
                      PlainFaultCase{"otherUnitAnswers",
                                     Fault{FaultKind::WrongUid, ReplyKind::PlainAck, 0x450, 2, 0, 1, 1},
                                     vk61::FailureReason::TimedOut,
                                     {"legacy_ack: failed uid=2 cmd=0x452 complete=0 failed=0\n"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SettingsExchangeTest, lateNackAfterCompletionIsIgnored) {
    connect_units(1);
    // Both answers are queued while the slot is armed: the ACK completes the
    // wait, the NACK behind it must not undo that.
    const vk61::OperationResult ok = comms->wait_legacy_ack(
        1, 0x451,
        [&] {
            inject(0x0E1, 4, {1, 0x51, 0x04, 1});
            inject(0x0E1, 4, {1, 0x51, 0x04, 0});
            return true;
        },
        1000, kClose);
    EXPECT_TRUE(ok);
    settle();
    EXPECT_FALSE(log.contains("legacy_ack"));
}

TEST_F(SettingsExchangeTest, disconnectWakesEveryWaiterAtOnce) {
    connect_units(2);
    drop_all_sequenced_acks();
    std::atomic<bool> legacy_armed{false};
    constexpr unsigned kLong = 20000;  // only disconnect can end these waits in time

    std::uint32_t value = 0;
    auto read = std::async(std::launch::async, [&] { return comms->read_setting_value(0x64, kLong, &value); });
    auto write = std::async(std::launch::async, [&] { return comms->write_setting(1, 2, kLong); });
    auto legacy = std::async(std::launch::async, [&] {
        return comms->wait_legacy_ack(
            1, 0x451, [&] { return legacy_armed = true; }, kLong, kClose);
    });
    ASSERT_TRUE(wait_sent(0x370));
    ASSERT_TRUE(wait_sent(0x390));
    ASSERT_TRUE(eventually([&] { return legacy_armed.load(); }));
    const std::uint32_t seq = last_write_sequence();

    comms->disconnect();
    ASSERT_EQ(read.wait_for(kWaitLimit), std::future_status::ready);
    ASSERT_EQ(write.wait_for(kWaitLimit), std::future_status::ready);
    ASSERT_EQ(legacy.wait_for(kWaitLimit), std::future_status::ready);
    EXPECT_EQ(read.get().reason, FailureReason::Disconnected);
    EXPECT_EQ(write.get().reason, FailureReason::Disconnected);
    EXPECT_EQ(legacy.get(), OperationResult::failure(kClose, FailureReason::Disconnected, 1));

    // Each wait ended on the disconnect, not on a time-out, with one failure
    // line. The flags in the line depend on whether the waiter saw the
    // disconnecting flag before disconnect() reached its slot, so only the
    // command and sequence are pinned.
    EXPECT_FALSE(log.contains("read_setting: timeout"));
    EXPECT_EQ(log.count_prefix("write_setting: failed cmd=0x390 seq=" + std::to_string(seq) + " "), 1u);
    EXPECT_EQ(log.count_prefix("legacy_ack: failed uid=1 cmd=0x451 "), 1u);
}

// A pulled cable ends a settings wait at once with the link's failure: no
// answer can come any more, so sitting out the time-out would only hold the
// window. The waits are given far longer than the test allows them.
TEST_F(SettingsExchangeTest, pulledCableEndsSettingsWaitsAtOnce) {
    using Clock = std::chrono::steady_clock;
    constexpr unsigned kLong = 20000;
    constexpr auto kPrompt = std::chrono::milliseconds(kLong / 10);
    struct Case {
        const char* name;
        std::function<OperationResult()> run;
        std::uint32_t request_base;
        OperationStep step;
    };
    const std::vector<Case> cases = {
        {"store", [&] { return comms->save_user_settings(0x1234, kLong); }, 0x3A0, OperationStep::StoreSettings},
        {"write", [&] { return comms->write_setting(1, 2, kLong); }, 0x390, OperationStep::WriteSetting},
        // Index 0x64 is no setting: no unit answers it.
        {"read", [&] { return comms->read_setting_value(0x64, kLong, nullptr); }, 0x370, OperationStep::ReadSetting},
    };
    bool first = true;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (!first) {
            comms = std::make_unique<vk61::CommsManager>();  // the last one keeps reopening a missing link
            bus.clear_faults();
        }
        connect_units(first ? 2 : 0);  // plugs the cable in
        first = false;
        drop_all_sequenced_acks();

        auto waiting = std::async(std::launch::async, c.run);
        ASSERT_TRUE(wait_sent(c.request_base));
        // The unit takes the request from inside the host's write: let that
        // write return, so the pull finds the operation in its wait.
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        const auto pulled = Clock::now();
        vhid::pull_cable();
        ASSERT_EQ(waiting.wait_for(kWaitLimit), std::future_status::ready) << "the wait sat out its time-out";
        const OperationResult result = waiting.get();
        EXPECT_LT(Clock::now() - pulled, kPrompt);
        EXPECT_EQ(result.step, c.step);
        EXPECT_EQ(result.reason, FailureReason::LinkLost) << describe(result);
    }
}

}  // namespace
}  // namespace commstest
