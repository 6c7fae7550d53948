// One contract for virtual_hidapi, run against both ways of reaching the
// simulated bridge: in-process (sim::Bridge) and over the TCP wire
// (sim::WireServer). The host side is the same raw hidapi code in both.
#include "raw_host.h"

#include "bridge.h"
#include "default_installation.h"
#include "installation.h"
#include "virtual_hidapi_control.h"
#include "wire_server.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

namespace {

using namespace std::chrono_literals;
using simtest::RawHost;

// Polls cond until it holds or the deadline passes.
template <typename Cond>
bool eventually(Cond cond, std::chrono::milliseconds limit = 3000ms) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!cond()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::yield();
    }
    return true;
}

struct InProcessBackend {
    sim::Installation bus;
    sim::Bridge bridge{bus};
    InProcessBackend() {
        sim::add_default_units(bus);
        vhid::attach_bridge(&bridge);
    }
    ~InProcessBackend() { vhid::attach_bridge(nullptr); }
    bool host_connected() const { return bridge.host_connected(); }
};

struct WireBackend {
    sim::Installation bus;
    sim::WireServer server{bus};
    WireBackend() {
        sim::add_default_units(bus);
        vhid::attach_bridge(nullptr);
        EXPECT_TRUE(server.start(0));
        const std::string address = "127.0.0.1:" + std::to_string(server.port());
        setenv("VK61_BRIDGE", address.c_str(), 1);
    }
    ~WireBackend() {
        server.stop();
        unsetenv("VK61_BRIDGE");
    }
    bool host_connected() const { return server.host_connected(); }
};

template <typename Backend>
class HidapiContract : public ::testing::Test {
protected:
    Backend backend;
    RawHost host;
};

using Backends = ::testing::Types<InProcessBackend, WireBackend>;
TYPED_TEST_SUITE(HidapiContract, Backends);

TYPED_TEST(HidapiContract, enumeratesOneBridgeInterface) {
    hid_device_info* list = hid_enumerate(0x16D0, 0x14C7);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->vendor_id, 0x16D0);
    EXPECT_EQ(list->product_id, 0x14C7);
    EXPECT_EQ(list->usage_page, 0xFF00);
    EXPECT_EQ(list->next, nullptr);
    hid_free_enumeration(list);
    EXPECT_EQ(hid_enumerate(0x1234, 0x14C7), nullptr);
}

TYPED_TEST(HidapiContract, whoamiRoundTrip_repliesFromEveryUnit) {
    ASSERT_TRUE(this->host.open());
    EXPECT_TRUE(eventually([&] { return this->backend.host_connected(); }));
    EXPECT_EQ(this->host.send(0x010, 2, {0xEF, 0x15}), 73);
    for (std::uint32_t uid = 1; uid <= 3; ++uid) {
        const auto f = this->host.read_frame();
        ASSERT_TRUE(f) << "reply " << uid;
        EXPECT_EQ(f->identifier(), 0x010u | uid);
        EXPECT_EQ(f->dlc(), 9);
        EXPECT_EQ(f->data()[8], uid);
    }
}

TYPED_TEST(HidapiContract, inputReportCarriesExactlyTheDlcBytes) {
    ASSERT_TRUE(this->host.open());
    ASSERT_TRUE(eventually([&] { return this->backend.host_connected(); }));
    vk61::BusFrame f = vk61::make_frame(0, 0x385, 9, nullptr, 0);
    f.data()[11] = 0xAB;
    this->backend.bus.inject_to_host(f);
    std::uint8_t buf[128] = {};
    ASSERT_EQ(hid_read_timeout(this->host.device(), buf, sizeof buf, 2000), 7 + 12);
    EXPECT_EQ(buf[1], 0);     // link byte
    EXPECT_EQ(buf[2], 0x85);  // identifier, little-endian
    EXPECT_EQ(buf[3], 0x03);
    EXPECT_EQ(buf[6], 9);
    EXPECT_EQ(buf[7 + 11], 0xAB);
}

TYPED_TEST(HidapiContract, shortInputReport_isDeliveredAsItIs) {
    ASSERT_TRUE(this->host.open());
    ASSERT_TRUE(eventually([&] { return this->backend.host_connected(); }));
    this->backend.bus.inject_raw_report({0x01, 0x00, 0x85});
    std::uint8_t buf[128] = {};
    ASSERT_EQ(hid_read_timeout(this->host.device(), buf, sizeof buf, 2000), 3);
    EXPECT_EQ(buf[2], 0x85);
}

TYPED_TEST(HidapiContract, readWithNothingToRead_timesOutWithZero) {
    ASSERT_TRUE(this->host.open());
    std::uint8_t buf[128];
    EXPECT_EQ(hid_read_timeout(this->host.device(), buf, sizeof buf, 0), 0);
    EXPECT_EQ(hid_read_timeout(this->host.device(), buf, sizeof buf, 20), 0);
}

TYPED_TEST(HidapiContract, pulledCable_failsReadWriteAndOpenUntilPlugged) {
    ASSERT_TRUE(this->host.open());
    const std::string path = simtest::bridge_path();
    vhid::pull_cable();
    EXPECT_FALSE(vhid::cable_plugged());
    std::uint8_t buf[128];
    EXPECT_EQ(hid_read_timeout(this->host.device(), buf, sizeof buf, 1000), -1);
    EXPECT_EQ(this->host.send(0x010, 2, {0xEF, 0x15}), -1);
    EXPECT_EQ(simtest::bridge_path(), "");  // an unplugged device is not listed
    EXPECT_EQ(hid_open_path(path.c_str()), nullptr);
    EXPECT_TRUE(eventually([&] { return !this->backend.host_connected(); }));

    vhid::plug_cable();
    RawHost again;
    ASSERT_TRUE(again.open());
    EXPECT_EQ(again.send(0x010, 2, {0xEF, 0x15}), 73);
    EXPECT_TRUE(again.read_frame());
}

TYPED_TEST(HidapiContract, pullCableFault_dropsTheHostAndReplugsLater) {
    ASSERT_TRUE(this->host.open());
    ASSERT_TRUE(eventually([&] { return this->backend.host_connected(); }));
    // The second frame meets a pulled cable; the cable is back 50 ms later.
    this->backend.bus.add_fault({sim::FaultKind::PullCable, sim::ReplyKind::Any, 0, 0, 1, 1, 50});
    ASSERT_EQ(this->host.send(0x370 | 1, 2, {0x00, 9}), 73);
    ASSERT_TRUE(this->host.read_frame());
    this->host.send(0x370 | 1, 2, {0x00, 10});
    std::uint8_t buf[128];
    EXPECT_EQ(hid_read_timeout(this->host.device(), buf, sizeof buf, 2000), -1);
    EXPECT_EQ(this->host.send(0x010, 2, {0xEF, 0x15}), -1);
    EXPECT_EQ(this->backend.bus.host_frame_count(), 2u);  // logged, but it never reached the units

    RawHost again;
    ASSERT_TRUE(eventually([&] { return again.open(); }));
    ASSERT_EQ(again.send(0x370 | 1, 2, {0x00, 9}), 73);
    const auto f = again.read_frame();
    ASSERT_TRUE(f);
    EXPECT_EQ(f->identifier(), 0x381u);
}

TYPED_TEST(HidapiContract, closingTheDevice_closesTheBridgeSide) {
    ASSERT_TRUE(this->host.open());
    ASSERT_TRUE(eventually([&] { return this->backend.host_connected(); }));
    this->host.close();
    EXPECT_TRUE(eventually([&] { return !this->backend.host_connected(); }));
    ASSERT_TRUE(this->host.open());  // and the bridge takes the next host
    EXPECT_EQ(this->host.send(0x010, 2, {0xEF, 0x15}), 73);
    EXPECT_TRUE(this->host.read_frame());
}

TYPED_TEST(HidapiContract, setInterfaces_listsUsagePagesAndHonoursOpenFails) {
    vhid::Interface keyboard;
    keyboard.usage_page = 0x0001;
    keyboard.path = "if-keyboard";
    vhid::Interface broken;
    broken.path = "if-broken";
    broken.is_bridge = true;
    broken.open_fails = true;
    vhid::Interface bridge;
    bridge.path = "if-bridge";
    bridge.is_bridge = true;
    vhid::set_interfaces({keyboard, broken, bridge});
    vhid::reset_open_attempts();

    std::vector<std::pair<std::string, unsigned>> listed;
    hid_device_info* list = hid_enumerate(0x16D0, 0x14C7);
    for (auto* i = list; i != nullptr; i = i->next) listed.emplace_back(i->path, i->usage_page);
    hid_free_enumeration(list);
    const std::vector<std::pair<std::string, unsigned>> expected = {
        {"if-keyboard", 0x0001}, {"if-broken", 0xFF00}, {"if-bridge", 0xFF00}};
    EXPECT_EQ(listed, expected);

    EXPECT_EQ(hid_open_path("if-broken"), nullptr);
    RawHost other;
    EXPECT_TRUE(other.open_path("if-keyboard"));  // opens, but reaches no bus
    std::uint8_t buf[128];
    EXPECT_EQ(hid_read_timeout(other.device(), buf, sizeof buf, 0), 0);
    ASSERT_TRUE(this->host.open_path("if-bridge"));
    EXPECT_EQ(this->host.send(0x010, 2, {0xEF, 0x15}), 73);
    EXPECT_TRUE(this->host.read_frame());
    EXPECT_EQ(vhid::open_attempts(), (std::vector<std::string>{"if-broken", "if-keyboard", "if-bridge"}));
}

}  // namespace
