// The unit registry: occupancy reports and placeholders, WHOAMI and client
// information, the primary unit, the callbacks and the USB reconnect step.
#include <atomic>

#include "comms_test_support.h"

namespace commstest {
namespace {

using vk61::DeviceInfo;

using DiscoveryTest = CommsFixture;

// The UID and type byte of each client-information request the host sent.
std::vector<unsigned> client_info_requests(const std::vector<vk61::BusFrame>& frames) {
    std::vector<unsigned> uids;
    for (const vk61::BusFrame& f : frames) {
        EXPECT_EQ(f.identifier(), 0x790u);
        EXPECT_EQ(f.dlc(), 2);
        EXPECT_EQ(f.data()[0], 0x73);
        uids.push_back(f.data()[1]);
    }
    return uids;
}

struct Expected {
    std::uint32_t device_id;
    std::uint8_t uid;
    bool occupied;
    bool alive;
};

void expect_registry(const std::vector<DeviceInfo>& registry, const std::vector<Expected>& expected) {
    ASSERT_EQ(registry.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE("record " + std::to_string(i));
        EXPECT_EQ(registry[i].device_id, expected[i].device_id);
        EXPECT_EQ(registry[i].uid, expected[i].uid);
        EXPECT_EQ(registry[i].occupied, expected[i].occupied);
        EXPECT_EQ(registry[i].alive, expected[i].alive);
    }
}

TEST_F(DiscoveryTest, occupancyReportStoresMasksWithoutBit0AndAsksEachPresentUnit) {
    CallCounter changed;
    comms->set_devices_changed_callback(changed.callback());
    connect_bus();  // nobody on the bus answers
    bus.clear_host_frames();

    bus.send_occupancy_report(0x0000000B, 0x00000002);
    ASSERT_TRUE(log.wait_exact("ZEQBUS: occupied=0x0000000A alive=0x00000002\n"));
    settle();

    expect_registry(comms->device_snapshot(),
                    {{DeviceInfo::kUnknownDeviceId, 1, true, true}, {DeviceInfo::kUnknownDeviceId, 3, true, false}});
    EXPECT_EQ(client_info_requests(sent(0x790)), (std::vector<unsigned>{1, 3}));
    EXPECT_EQ(comms->primary_uid(), 1);
    EXPECT_EQ(changed.calls(), 1);
}

TEST_F(DiscoveryTest, unitsHeardSinceAMark_countOnlyRepliesAfterIt) {
    connect_units(3);
    bus.send_occupancy_report(0x0E, 0x0E);
    // The report makes the engine ask each unit for its client information,
    // from the receive thread, and each answer is queued (latency 0) inside
    // the send of its request. The simulator records a request before it
    // queues the answer, so a first marker may overtake the last answer; but
    // it is handled only after the receive thread has sent every request, so
    // a second marker comes after every answer.
    ASSERT_TRUE(wait_sent(0x790, 3));
    settle();
    settle();
    const std::uint64_t mark = comms->hearing_mark();
    // Alive flags from before the mark prove nothing.
    EXPECT_EQ(comms->units_heard_since(mark), 0u);

    // A WHOAMI reply clears the alive flag, yet the unit was heard.
    inject(0x012, 9, bytes_of({le32(0xC3010002u), le32(0x01040200u), {2}, {0, 0, 0}}));
    settle();
    EXPECT_EQ(comms->units_heard_since(mark), 0x04u);
    inject(0x790, 9, bytes_of({{1}, le32(0xC3010001u), le32(0x01040200u)}));  // client information
    settle();
    EXPECT_EQ(comms->units_heard_since(mark), 0x06u);

    // Occupancy reports on their own (the units' client-information replies
    // are lost): a unit marked alive was heard, one only occupied was not.
    bus.add_fault(sim::Fault{sim::FaultKind::Drop, sim::ReplyKind::ClientInfo, 0, 0, 0, 0});
    const std::uint64_t later = comms->hearing_mark();
    bus.send_occupancy_report(0x0E, 0x08);
    settle();
    EXPECT_EQ(comms->units_heard_since(later), 0x08u);
    EXPECT_EQ(comms->units_heard_since(mark), 0x0Eu);
}

TEST_F(DiscoveryTest, placeholderLeavesWhenNoLongerOccupiedButIdentifiedUnitsStay) {
    connect_units(1);
    bus.send_occupancy_report(0x22, 0x22);  // UID 1 (known) and UID 5 (nobody)
    settle();
    expect_registry(comms->device_snapshot(),
                    {{0xC3010001, 1, true, true}, {DeviceInfo::kUnknownDeviceId, 5, true, true}});

    bus.clear_host_frames();
    bus.send_occupancy_report(0x00, 0x20);  // UID 5 only alive, UID 1 not listed at all
    settle();
    expect_registry(comms->device_snapshot(), {{0xC3010001, 1, false, false}});
    EXPECT_EQ(client_info_requests(sent(0x790)), (std::vector<unsigned>{5}));
}

TEST_F(DiscoveryTest, repeatedIdenticalWhoamiIsSilentUnlessFlagsWereSetMeanwhile) {
    CallCounter changed;
    comms->set_devices_changed_callback(changed.callback());
    connect_units(3);
    EXPECT_EQ(log.count("WHOAMI: device"), 3u);
    EXPECT_EQ(log.count_exact("WHOAMI: device 0xD5020002 UID 0x02 firmware 2.1.0 (rc 0)\n"), 1u);
    EXPECT_EQ(changed.calls(), 3);

    ASSERT_TRUE(comms->rediscover());
    ASSERT_TRUE(wait_sent(0x010));
    settle();
    EXPECT_EQ(log.count("WHOAMI: device"), 3u);
    EXPECT_EQ(changed.calls(), 3);

    // The report sets every flag (one callback); the client-information
    // replies that follow match the record and change nothing.
    bus.send_occupancy_report();
    settle();
    for (const DeviceInfo& d : comms->device_snapshot()) EXPECT_TRUE(d.occupied && d.alive) << int(d.uid);
    EXPECT_EQ(changed.calls(), 4);

    // WHOAMI clears the flags again: now each reply is a change.
    bus.clear_host_frames();
    ASSERT_TRUE(comms->rediscover());
    ASSERT_TRUE(wait_sent(0x010));
    settle();
    EXPECT_EQ(log.count("WHOAMI: device"), 6u);
    EXPECT_EQ(changed.calls(), 7);
    for (const DeviceInfo& d : comms->device_snapshot()) EXPECT_FALSE(d.occupied || d.alive) << int(d.uid);
}

TEST_F(DiscoveryTest, unitThatMovedToAnotherUidKeepsItsOneRecord) {
    connect_units(3);
    const DeviceInfo moved = comms->device_snapshot()[1];
    ASSERT_EQ(moved.uid, 2);
    ASSERT_TRUE(bus.remove_unit(2));
    ASSERT_TRUE(bus.add_unit({4, moved.device_id, moved.firmware, 0x00100000}));

    ASSERT_TRUE(comms->rediscover());
    ASSERT_TRUE(wait_sent(0x010));
    settle();
    const auto registry = comms->device_snapshot();
    expect_registry(registry,
                    {{0xC3010001, 1, false, false}, {moved.device_id, 4, false, false}, {0xFF010003, 3, false, false}});
    EXPECT_EQ(log.count_exact("WHOAMI: device 0xD5020002 UID 0x04 firmware 2.1.0 (rc 0)\n"), 1u);
}

struct PrimaryCase {
    const char* name;
    std::vector<std::uint8_t> units;
    bool report;
    std::uint32_t occupied, alive;
    std::uint8_t primary;
};

class PrimaryUidTest : public CommsFixture, public ::testing::WithParamInterface<PrimaryCase> {};

TEST_P(PrimaryUidTest, readsGoToThePrimaryUnit) {
    const PrimaryCase& c = GetParam();
    for (std::uint8_t uid : c.units) {
        ASSERT_TRUE(bus.add_unit({uid, 0xD5000000u | uid, 0x01000000, 0x00100000}));
        ASSERT_TRUE(bus.set_ram_element(uid, 14, 0x5000u + uid));
    }
    connect_units(0);
    if (c.report) {
        bus.send_occupancy_report(c.occupied, c.alive);
        settle();
    }
    EXPECT_EQ(comms->primary_uid(), c.primary);

    bus.clear_host_frames();
    std::uint32_t value = 0;
    const vk61::OperationResult read = comms->read_setting_value(14, 300, &value);
    const auto reads = sent(0x370);
    ASSERT_EQ(reads.size(), 1u);
    EXPECT_EQ(reads[0].identifier(), 0x370u | c.primary);
    if (const auto held = bus.ram_element(c.primary, 14)) {
        EXPECT_TRUE(read);
        EXPECT_EQ(value, *held);
    } else {
        EXPECT_EQ(read.reason, vk61::FailureReason::TimedOut);
        EXPECT_TRUE(log.contains("read_setting: timeout UID 1 index 0x0E\n"));
    }
}

INSTANTIATE_TEST_SUITE_P(Masks, PrimaryUidTest,
                         ::testing::Values(PrimaryCase{"lowestAlive", {1, 2, 3, 4}, true, 0x1E, 0x0C, 2},
                                           PrimaryCase{
                                               "lowestOccupiedWhenNoneAlive", {1, 2, 3, 4}, true, 0x18, 0x00, 3},
                                           PrimaryCase{"bit0IsNoUnit", {2, 3}, true, 0x01, 0x01, 2},
                                           PrimaryCase{"smallestKnownWithoutReport", {4, 2, 9}, false, 0, 0, 2},
                                           PrimaryCase{"uid1WhenNothingKnown", {}, false, 0, 0, 1}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(DiscoveryTest, callbacksMayQueryTheRegistry) {
    std::atomic<std::size_t> largest_seen{0};
    std::atomic<int> primary_seen{-1};
    CallCounter changed;
    comms->set_devices_changed_callback(changed.callback([&] {
        largest_seen = std::max(largest_seen.load(), comms->device_snapshot().size());
        primary_seen = comms->primary_uid();
    }));
    connect_units(3);
    EXPECT_EQ(largest_seen.load(), 3u);

    bus.send_occupancy_report(0x0C, 0x08);
    settle();
    EXPECT_EQ(primary_seen.load(), 3);
    EXPECT_GE(changed.calls(), 4);
}

TEST_F(DiscoveryTest, replugAfterCablePullReconnectsRediscoversAndCallsBackOnce) {
    connect_units(3);
    for (const auto uid : {1, 2, 3}) ASSERT_TRUE(bus.set_ram_element(static_cast<std::uint8_t>(uid), 4, 0x44));
    CallCounter changed;
    CallCounter reconnected;
    comms->set_devices_changed_callback(changed.callback([&] { (void)comms->device_snapshot(); }));
    comms->set_reconnected_callback(reconnected.callback([&] { (void)comms->primary_uid(); }));
    log.clear();

    vhid::pull_cable();
    ASSERT_TRUE(eventually([&] { return !comms->is_connected(); }));
    std::uint32_t value = 0;
    EXPECT_EQ(comms->read_setting_value(4, 100, &value).reason, vk61::FailureReason::NotConnected);
    const std::string attempt = "USB HID: attempting reconnect to 0x16D0:0x14C7...\n";
    ASSERT_TRUE(log.wait_exact(attempt, 3));
    EXPECT_EQ(reconnected.calls(), 0);
    bus.clear_host_frames();
    vhid::plug_cable();

    ASSERT_TRUE(log.wait_exact("USB HID: reconnected\n"));
    ASSERT_TRUE(wait_sent(0x010));
    settle();
    std::vector<std::string> lines = log.lines();
    lines.pop_back();  // the marker
    ASSERT_GE(lines.size(), 5u);
    for (std::size_t i = 0; i + 2 < lines.size(); ++i) EXPECT_EQ(lines[i], attempt) << "line " << i;
    EXPECT_EQ(lines[lines.size() - 2], "USB HID: reconnected\n");
    EXPECT_EQ(lines[lines.size() - 1], "Rediscovering devices...\n");
    EXPECT_EQ(changed.calls(), 1);
    EXPECT_EQ(reconnected.calls(), 1);

    // The registry survived, and the link works again.
    EXPECT_EQ(comms->device_snapshot().size(), 3u);
    EXPECT_TRUE(comms->is_connected());
    EXPECT_TRUE(comms->read_setting_value(4, 500, &value));
    EXPECT_EQ(value, 0x44u);
}

}  // namespace
}  // namespace commstest
