// The virtual-bridge wire itself: addressing, packet framing on both ends,
// and the wire server's one-host and cable rules.
#include "raw_host.h"

#include "default_installation.h"
#include "installation.h"
#include "virtual_hidapi_control.h"
#include "wire_address.h"
#include "wire_server.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace {

using simtest::RawHost;

TEST(WireAddress, acceptsLoopbackOnly) {
    struct Row {
        const char* text;
        bool ok;
        const char* host;
        unsigned port;
    };
    const Row rows[] = {
        {"127.0.0.1:47061", true, "127.0.0.1", 47061},
        {"localhost:5000", true, "127.0.0.1", 5000},
        {"127.1.2.3:80", true, "127.1.2.3", 80},
        {"10.0.0.1:47061", false, "", 0},
        {"192.168.1.5:47061", false, "", 0},
        {"example.com:47061", false, "", 0},
        {"127.0.0.1:0", false, "", 0},
        {"127.0.0.1:70000", false, "", 0},
        {"127.0.0.1", false, "", 0},
        {"127.0.0.1:12ab", false, "", 0},
    };
    for (const auto& row : rows) {
        std::string why;
        const auto address = vhid::parse_wire_address(row.text, &why);
        EXPECT_EQ(address.has_value(), row.ok) << row.text;
        if (address && row.ok) {
            EXPECT_EQ(address->host, row.host) << row.text;
            EXPECT_EQ(address->port, row.port) << row.text;
        } else if (!row.ok) {
            EXPECT_FALSE(why.empty()) << row.text;
        }
    }
}

// A bare listening socket in the test, standing in for a bridge so the test
// controls every byte on the wire.
class FakeBridge {
public:
    FakeBridge() {
        listen_fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof sa;
        ::bind(listen_fd_, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
        ::listen(listen_fd_, 1);
        ::getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&sa), &len);
        port_ = ntohs(sa.sin_port);
        const std::string address = "127.0.0.1:" + std::to_string(port_);
        setenv("VK61_BRIDGE", address.c_str(), 1);
        vhid::attach_bridge(nullptr);
    }
    ~FakeBridge() {
        if (client_fd_ >= 0) ::close(client_fd_);
        if (listen_fd_ >= 0) ::close(listen_fd_);
        unsetenv("VK61_BRIDGE");
    }
    bool accept_host() {
        pollfd p{listen_fd_, POLLIN, 0};
        if (::poll(&p, 1, 2000) != 1) return false;
        client_fd_ = ::accept(listen_fd_, nullptr, nullptr);
        return client_fd_ >= 0;
    }
    void send_bytes(const std::vector<std::uint8_t>& bytes) {
        ASSERT_EQ(::send(client_fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL), static_cast<ssize_t>(bytes.size()));
    }
    // Reads exactly n bytes, waiting at most 2 s for each piece.
    std::vector<std::uint8_t> receive(std::size_t n) {
        std::vector<std::uint8_t> out;
        while (out.size() < n) {
            pollfd p{client_fd_, POLLIN, 0};
            if (::poll(&p, 1, 2000) != 1) break;
            std::uint8_t buf[256];
            const ssize_t got = ::recv(client_fd_, buf, std::min(sizeof buf, n - out.size()), 0);
            if (got <= 0) break;
            out.insert(out.end(), buf, buf + got);
        }
        return out;
    }
    std::uint16_t port() const { return port_; }

private:
    int listen_fd_ = -1;
    int client_fd_ = -1;
    std::uint16_t port_ = 0;
};

TEST(WireHost, writeSendsLengthPrefixedReport) {
    FakeBridge bridge;
    RawHost host;
    ASSERT_TRUE(host.open());
    ASSERT_TRUE(bridge.accept_host());
    ASSERT_EQ(host.send(0x3A0, 7, {1, 2, 3, 4, 5, 6, 7}), 73);
    const auto bytes = bridge.receive(75);
    ASSERT_EQ(bytes.size(), 75u);
    EXPECT_EQ(bytes[0], 73);
    EXPECT_EQ(bytes[1], 0);
    EXPECT_EQ(std::vector<std::uint8_t>(bytes.begin() + 2, bytes.end()),
              simtest::output_report(0x3A0, 7, {1, 2, 3, 4, 5, 6, 7}));
}

TEST(WireHost, packetSplitAcrossSegments_isReadAsOneReport) {
    FakeBridge bridge;
    RawHost host;
    ASSERT_TRUE(host.open());
    ASSERT_TRUE(bridge.accept_host());
    const std::vector<std::uint8_t> report = {0x01, 0x00, 0x81, 0x03, 0x00, 0x00, 0x06, 1, 9, 0x73, 0, 0, 0};
    std::vector<std::uint8_t> packet = {static_cast<std::uint8_t>(report.size()), 0};
    packet.insert(packet.end(), report.begin(), report.end());
    bridge.send_bytes({packet.begin(), packet.begin() + 5});
    std::uint8_t buf[128] = {};
    EXPECT_EQ(hid_read_timeout(host.device(), buf, sizeof buf, 50), 0);  // only part of it is there
    bridge.send_bytes({packet.begin() + 5, packet.end()});
    ASSERT_EQ(hid_read_timeout(host.device(), buf, sizeof buf, 2000), static_cast<int>(report.size()));
    EXPECT_EQ(std::vector<std::uint8_t>(buf, buf + report.size()), report);
}

TEST(WireHost, packetLengthOutsideOneTo128_breaksTheLink) {
    for (const std::uint8_t bad : {0, 129}) {
        FakeBridge bridge;
        RawHost host;
        ASSERT_TRUE(host.open());
        ASSERT_TRUE(bridge.accept_host());
        bridge.send_bytes({bad, 0, 1, 2, 3});
        std::uint8_t buf[128];
        EXPECT_EQ(hid_read_timeout(host.device(), buf, sizeof buf, 2000), -1) << int(bad);
        EXPECT_EQ(host.send(0x010, 2, {0xEF, 0x15}), -1) << int(bad);
    }
}

TEST(WireHost, nothingListening_openFails) {
    std::uint16_t port = 0;
    {
        FakeBridge gone;  // takes a free port, then closes it
        port = gone.port();
    }
    setenv("VK61_BRIDGE", ("127.0.0.1:" + std::to_string(port)).c_str(), 1);
    vhid::attach_bridge(nullptr);
    RawHost host;
    EXPECT_FALSE(host.open());
    unsetenv("VK61_BRIDGE");
}

TEST(WireHost, nonLoopbackBridgeAddress_isRefused) {
    setenv("VK61_BRIDGE", "10.20.30.40:47061", 1);
    vhid::attach_bridge(nullptr);
    EXPECT_EQ(hid_enumerate(0x16D0, 0x14C7), nullptr);
    EXPECT_EQ(hid_open_path("vk61-wire:10.20.30.40:47061"), nullptr);
    unsetenv("VK61_BRIDGE");
}

class WireServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        sim::add_default_units(bus);
        ASSERT_TRUE(server.start(0));
        setenv("VK61_BRIDGE", ("127.0.0.1:" + std::to_string(server.port())).c_str(), 1);
        vhid::attach_bridge(nullptr);
    }
    void TearDown() override { unsetenv("VK61_BRIDGE"); }
    sim::Installation bus;
    sim::WireServer server{bus};
};

TEST_F(WireServerTest, secondHostWhileOneIsConnected_isDropped) {
    RawHost first;
    ASSERT_TRUE(first.open());
    ASSERT_EQ(first.send(0x370 | 1, 2, {0, 9}), 73);  // the server has taken this host
    ASSERT_TRUE(first.read_frame());
    RawHost second;
    ASSERT_TRUE(second.open());  // TCP accepts; the server closes it at once
    std::uint8_t buf[128];
    EXPECT_EQ(hid_read_timeout(second.device(), buf, sizeof buf, 2000), -1);
    ASSERT_EQ(first.send(0x370 | 1, 2, {0, 9}), 73);
    EXPECT_TRUE(first.read_frame());
}

TEST_F(WireServerTest, serverPullsCable_hostFailsAndCannotOpenUntilPlugged) {
    RawHost host;
    ASSERT_TRUE(host.open());
    ASSERT_EQ(host.send(0x010, 2, {0xEF, 0x15}), 73);
    ASSERT_TRUE(host.read_frame());
    server.pull_cable();
    std::uint8_t buf[128];
    EXPECT_EQ(hid_read_timeout(host.device(), buf, sizeof buf, 2000), -1);
    EXPECT_EQ(host.send(0x010, 2, {0xEF, 0x15}), -1);
    RawHost again;
    EXPECT_FALSE(again.open());
    server.plug_cable();
    ASSERT_TRUE(again.open());
    ASSERT_EQ(again.send(0x370 | 2, 2, {0, 10}), 73);
    const auto f = again.read_frame();
    ASSERT_TRUE(f);
    EXPECT_EQ(f->identifier(), 0x382u);
}

}  // namespace
