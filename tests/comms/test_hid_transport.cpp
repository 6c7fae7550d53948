// HidTransport and CanFdTransport against virtual_hidapi: the report layouts
// in both directions and which interface gets opened.
#include <gtest/gtest.h>

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "bus_frame.h"
#include "transport/can_fd_transport.h"
#include "transport/hid_transport.h"
#include "virtual_hidapi_control.h"

namespace {

using vk61::BusFrame;
using vk61::HidTransport;

constexpr std::uint16_t kVid = 0x16D0;
constexpr std::uint16_t kPid = 0x14C7;

// Records what the host writes and lets the test hand it raw input reports.
class RecordingBridge : public vhid::InProcessBridge {
public:
    bool host_open(vhid::ReportSink to_host) override {
        std::lock_guard lock(mutex_);
        sink_ = std::move(to_host);
        return true;
    }
    void host_write(const std::uint8_t* data, std::size_t len) override {
        std::lock_guard lock(mutex_);
        writes_.emplace_back(data, data + len);
    }
    void host_close() override {
        std::lock_guard lock(mutex_);
        sink_ = nullptr;
    }
    void to_host(const std::vector<std::uint8_t>& report) {
        std::lock_guard lock(mutex_);
        ASSERT_TRUE(sink_) << "no host has the bridge open";
        sink_(report.data(), report.size());
    }
    std::vector<std::vector<std::uint8_t>> writes() const {
        std::lock_guard lock(mutex_);
        return writes_;
    }

private:
    mutable std::mutex mutex_;
    vhid::ReportSink sink_;
    std::vector<std::vector<std::uint8_t>> writes_;
};

class HidTransportTest : public ::testing::Test {
protected:
    void SetUp() override {
        vhid::attach_bridge(&bridge);
        vhid::reset_open_attempts();
    }
    void TearDown() override {
        hid.close_device();
        vhid::attach_bridge(nullptr);
    }

    RecordingBridge bridge;
    HidTransport hid;
};

struct OutputCase {
    const char* name;
    std::uint8_t dlc;
    std::size_t data_bytes;
};

TEST_F(HidTransportTest, outputReportIsAlways73BytesWithTheDlcsDataBytes) {
    ASSERT_TRUE(hid.open_device(kVid, kPid));
    const OutputCase cases[] = {{"dlc 9", 9, 12}, {"dlc 15", 15, 64}, {"dlc 0", 0, 0}, {"dlc 8", 8, 8}};
    for (const OutputCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::uint8_t payload[64];
        for (int i = 0; i < 64; ++i) payload[i] = static_cast<std::uint8_t>(0xA0 + i);
        const BusFrame frame = vk61::make_frame(0x00, 0x0000'0391, c.dlc, payload, sizeof payload);
        const std::size_t before = bridge.writes().size();
        EXPECT_EQ(hid.send_frame(frame), 73);

        const auto writes = bridge.writes();
        ASSERT_EQ(writes.size(), before + 1);
        const std::vector<std::uint8_t>& report = writes.back();
        ASSERT_EQ(report.size(), 73u);
        EXPECT_EQ(report[0], 5);
        EXPECT_EQ((std::vector<std::uint8_t>{report.begin() + 1, report.begin() + 5}),
                  (std::vector<std::uint8_t>{0x91, 0x03, 0x00, 0x00}));
        EXPECT_EQ(report[5], c.dlc);
        for (std::size_t i = 0; i < 67; ++i) {
            const std::uint8_t expected = i < c.data_bytes ? payload[i] : 0;
            ASSERT_EQ(report[6 + i], expected) << "data byte " << i;
        }
    }
}

struct InputCase {
    const char* name;
    std::vector<std::uint8_t> report;
    std::size_t data_copied;  // bytes of report[7..] that must appear in the frame
};

TEST_F(HidTransportTest, inputReportFillsIdentifierDlcAndOnlyTheDataThatArrived) {
    ASSERT_TRUE(hid.open_device(kVid, kPid));
    auto report_with = [](std::uint8_t dlc, std::size_t data) {
        std::vector<std::uint8_t> r = {0x05, 0x42, 0x85, 0x03, 0x00, 0x00, dlc};
        for (std::size_t i = 0; i < data; ++i) r.push_back(static_cast<std::uint8_t>(0x10 + i));
        return r;
    };
    const InputCase cases[] = {
        {"header only", report_with(8, 0), 0},
        {"dlc promises 64, 10 arrived", report_with(15, 10), 10},
        {"dlc 9 complete", report_with(9, 12), 12},
        {"more arrived than the dlc holds", report_with(2, 20), 2},
        {"dlc above 15 carries nothing", report_with(16, 8), 0},
    };
    for (const InputCase& c : cases) {
        SCOPED_TRACE(c.name);
        bridge.to_host(c.report);
        BusFrame frame;
        frame.bytes.fill(0xEE);  // every byte the report does not supply must come back zero
        ASSERT_EQ(hid.receive_frame(&frame, 100), static_cast<int>(c.report.size()));
        EXPECT_EQ(frame.link(), 0x42);
        EXPECT_EQ(frame.identifier(), 0x385u);
        EXPECT_EQ(frame.dlc(), c.report[6]);
        for (std::size_t i = 0; i < BusFrame::kMaxData; ++i) {
            const std::uint8_t expected = i < c.data_copied ? c.report[7 + i] : 0;
            ASSERT_EQ(frame.data()[i], expected) << "data byte " << i;
        }
        EXPECT_EQ(frame.bytes[70], 0);
        EXPECT_EQ(frame.bytes[71], 0);
    }
}

TEST_F(HidTransportTest, shortReportIsDiscardedAndTheLinkStaysOpen) {
    ASSERT_TRUE(hid.open_device(kVid, kPid));
    for (std::size_t len = 1; len <= 6; ++len) {
        bridge.to_host(std::vector<std::uint8_t>(len, 0x05));
        BusFrame frame;
        EXPECT_EQ(hid.receive_frame(&frame, 100), -1) << len << " bytes";
        EXPECT_TRUE(hid.is_open()) << len << " bytes";
    }
    bridge.to_host({0x05, 0x00, 0x10, 0x00, 0x00, 0x00, 0x00});
    BusFrame frame;
    EXPECT_EQ(hid.receive_frame(&frame, 100), 7);
    EXPECT_EQ(frame.identifier(), 0x010u);
    BusFrame idle;
    EXPECT_EQ(hid.receive_frame(&idle, 0), 0) << "nothing more queued";
}

struct OpenCase {
    const char* name;
    std::vector<vhid::Interface> interfaces;
    bool opens;
    std::vector<std::string> attempts;
};

vhid::Interface interface_on(std::uint16_t usage_page, const char* path, bool bridge, bool fails = false,
                             std::uint16_t pid = kPid) {
    vhid::Interface i;
    i.usage_page = usage_page;
    i.path = path;
    i.is_bridge = bridge;
    i.open_fails = fails;
    i.product_id = pid;
    return i;
}

TEST_F(HidTransportTest, onlyTheFirstInterfaceOnTheVendorUsagePageIsTried) {
    const OpenCase cases[] = {
        {"first on another usage page",
         {interface_on(0x0001, "keyboard", false), interface_on(0xFF00, "bridge", true)},
         true,
         {"bridge"}},
        {"first of another product",
         {interface_on(0xFF00, "other-product", false, false, 0x1234), interface_on(0xFF00, "bridge", true)},
         true,
         {"bridge"}},
        {"first match fails to open",
         {interface_on(0xFF00, "broken", false, true), interface_on(0xFF00, "bridge", true)},
         false,
         {"broken"}},
        {"nothing listed", {}, false, {}},
    };
    for (const OpenCase& c : cases) {
        SCOPED_TRACE(c.name);
        hid.close_device();
        vhid::set_interfaces(c.interfaces);
        vhid::reset_open_attempts();
        EXPECT_EQ(hid.open_device(kVid, kPid), c.opens);
        EXPECT_EQ(hid.is_open(), c.opens);
        EXPECT_EQ(vhid::open_attempts(), c.attempts);
    }
}

TEST(CanFdTransportTest, can0NeverOpens) {
    vk61::CanFdTransport can;
    EXPECT_FALSE(can.open_interface("can0"));
    EXPECT_FALSE(can.is_open());
    BusFrame frame;
    EXPECT_EQ(can.send_frame(frame), -1);
    EXPECT_EQ(can.receive_frame(&frame, 10), -1);
}

}  // namespace
