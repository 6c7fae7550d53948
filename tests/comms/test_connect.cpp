// connect and disconnect. (A cable pulled while connected: test_discovery.cpp.)
#include <fstream>
#include <string>

#include "comms_test_support.h"

namespace commstest {
namespace {

// Threads of this process, from /proc: shows whether a receive thread runs.
int thread_count() {
    std::ifstream status("/proc/self/status");
    std::string key;
    while (status >> key) {
        if (key == "Threads:") {
            int n = 0;
            status >> n;
            return n;
        }
    }
    return -1;
}

using ConnectTest = CommsFixture;

TEST_F(ConnectTest, withoutBridgeTriesBothLinksInOrderAndStartsNoThread) {
    vhid::attach_bridge(&bridge);
    vhid::set_interfaces({});  // nothing on the USB bus
    const int threads_before = thread_count();

    EXPECT_EQ(comms->connect(),
              vk61::OperationResult::failure(vk61::OperationStep::Connect, vk61::FailureReason::NoInterface));
    EXPECT_EQ(log.lines(), (std::vector<std::string>{
                               "Attempting to connect to USB HID device 0x16D0:0x14C7\n",
                               "Failed to connect to USB HID\n",
                               "USB HID unavailable, attempting CAN FD interface: can0\n",
                               "Failed to connect to CAN FD\n",
                               "Failed to connect via USB HID or CAN FD\n",
                           }));
    EXPECT_EQ(thread_count(), threads_before);
    EXPECT_FALSE(comms->is_connected());
    std::uint32_t value = 0;
    EXPECT_EQ(comms->read_setting_value(0, 100, &value).reason, vk61::FailureReason::NotConnected);
    EXPECT_EQ(bus.host_frame_count(), 0u);
}

TEST_F(ConnectTest, connectSendsWhoamiAndTheReceiveThreadHandlesTheReplies) {
    sim::add_default_units(bus, 2);
    const int threads_before = thread_count();
    connect_bus();

    EXPECT_EQ(thread_count(), threads_before + 1);
    const auto whoami = sent(0x010);
    ASSERT_EQ(whoami.size(), 1u);
    EXPECT_EQ(whoami[0].identifier(), 0x010u);
    EXPECT_EQ(whoami[0].dlc(), 2);
    EXPECT_EQ(whoami[0].data()[0], 0xEF);
    EXPECT_EQ(whoami[0].data()[1], 0x15);

    // Only the receive thread can have put the replies into the registry.
    ASSERT_TRUE(eventually([&] { return comms->device_snapshot().size() == 2; }));
    const auto lines = log.lines();
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[0], "Attempting to connect to USB HID device 0x16D0:0x14C7\n");
    EXPECT_EQ(lines[1], "USB HID connected, starting RX thread...\n");
    EXPECT_EQ(lines[2], "Sending WHOAMI...\n");
    EXPECT_EQ(comms->interface_kind(), vk61::InterfaceKind::UsbHid);

    comms->disconnect();
    EXPECT_EQ(thread_count(), threads_before);
}

TEST_F(ConnectTest, afterDisconnectEveryOperationFailsAtOnceAndSendsNothing) {
    connect_units(2);
    comms->disconnect();
    EXPECT_FALSE(comms->is_connected());
    bus.clear_host_frames();
    log.clear();

    std::uint32_t value = 0;
    bool legacy_send_ran = false;
    bool sequenced_send_ran = false;
    EXPECT_FALSE(comms->read_setting_value(1, 5000, &value));
    EXPECT_FALSE(comms->write_setting(1, 2, 5000));
    EXPECT_FALSE(comms->save_user_settings(0x1234, 5000));
    EXPECT_FALSE(comms->run_sequenced_command(
        0x390, [&](std::uint32_t) { return sequenced_send_ran = true; }, 5000, "test",
        vk61::OperationStep::WriteSetting));
    EXPECT_FALSE(comms->wait_legacy_ack(
        1, 0x451, [&] { return legacy_send_ran = true; }, 5000, vk61::OperationStep::CloseDatabase));
    EXPECT_EQ(comms->rediscover(),
              vk61::OperationResult::failure(vk61::OperationStep::Discover, vk61::FailureReason::NotConnected));
    EXPECT_EQ(comms->reboot_devices(),
              vk61::OperationResult::failure(vk61::OperationStep::Reboot, vk61::FailureReason::NotConnected));
    EXPECT_FALSE(sequenced_send_ran);
    EXPECT_FALSE(legacy_send_ran);

    // A second disconnect finds nothing left to do.
    comms->disconnect();
    EXPECT_EQ(bus.host_frame_count(), 0u);
    EXPECT_TRUE(log.lines().empty());
}

}  // namespace
}  // namespace commstest
