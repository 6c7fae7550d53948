// The bus trace: a recording link puts every frame the engine sends or
// receives into a pcap capture, and the capture read back holds exactly the
// frames of the session, in order, with their directions; where tshark is
// installed it decodes them as CAN FD.
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <sstream>

#include "comms_test_support.h"
#include "trace/pcap_trace.h"

#include <unistd.h>

namespace commstest {
namespace {

using vk61::FrameDirection;

struct Expected {
    FrameDirection direction;
    std::uint32_t identifier;
    std::vector<std::uint8_t> data;
};

std::vector<std::uint8_t> data_of(const vk61::BusFrame& frame) {
    return {frame.data(), frame.data() + frame.payload_size()};
}

// tshark's fields of every record (direction, identifier, length), or
// nothing when tshark is not installed.
std::vector<std::string> tshark_fields(const std::string& path) {
    if (std::system("command -v tshark >/dev/null 2>&1") != 0) return {};
    const std::string command = "tshark -r '" + path + "' -T fields -e sll.pkttype -e can.id -e can.len 2>/dev/null";
    std::vector<std::string> lines;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char line[256];
        while (std::fgets(line, sizeof line, pipe) != nullptr) {
            std::string text(line);
            if (!text.empty() && text.back() == '\n') text.pop_back();
            if (!text.empty()) lines.push_back(text);
        }
        pclose(pipe);
    }
    return lines;
}

class BusTraceTest : public CommsFixture {
protected:
    BusTraceTest() {
        dir =
            std::filesystem::temp_directory_path() / ("vk61-trace-" + std::to_string(::getpid()) + "-" +
                                                      ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(dir);
    }
    ~BusTraceTest() override { std::filesystem::remove_all(dir); }
    std::string file(const std::string& name) const { return (dir / name).string(); }

    std::filesystem::path dir;
};

TEST_F(BusTraceTest, holdsExactlyTheFramesOfASessionWithTheirDirections) {
    const std::string path = file("session.pcap");
    vk61::TraceOpened opened = vk61::PcapTrace::create(path);
    ASSERT_TRUE(opened.ok()) << describe(opened);
    const std::unique_ptr<vk61::PcapTrace> trace = std::move(opened.trace);
    comms->record_frames(trace.get());

    // What the simulated units saw and sent, in the order of the wire: the
    // host frames as the bus takes them and the frames as they go to the host.
    std::mutex mutex;
    std::vector<Expected> wire;
    bus.set_frame_observer([&](const vk61::BusFrame& f) {
        std::lock_guard lock(mutex);
        wire.push_back({FrameDirection::Sent, f.identifier() & 0x7FFu, data_of(f)});
    });
    bus.set_reply_observer([&](const vk61::BusFrame& f) {
        std::lock_guard lock(mutex);
        wire.push_back({FrameDirection::Received, f.identifier() & 0x7FFu, data_of(f)});
    });

    connect_units(2);
    std::uint32_t value = 0;
    ASSERT_TRUE(comms->read_setting_value(16, 500, &value));
    ASSERT_TRUE(comms->write_setting(16, value, 500));
    comms->disconnect();
    bus.set_frame_observer(nullptr);
    bus.set_reply_observer(nullptr);
    ASSERT_TRUE(trace->flush());

    const vk61::TraceRead read = vk61::read_pcap_trace(path);
    ASSERT_TRUE(read.ok()) << describe(read);
    const std::vector<vk61::TraceRecord>& records = read.records;
    // Each direction keeps its order; between the two, the trace's order is
    // the engine's, which may differ from the bus's by a frame in flight.
    for (FrameDirection direction : {FrameDirection::Sent, FrameDirection::Received}) {
        std::vector<Expected> want;
        std::vector<Expected> got;
        for (const Expected& e : wire) {
            if (e.direction == direction) want.push_back(e);
        }
        for (const vk61::TraceRecord& r : records) {
            if (r.direction == direction) got.push_back({r.direction, r.identifier, r.data});
        }
        ASSERT_EQ(got.size(), want.size()) << (direction == FrameDirection::Sent ? "sent" : "received");
        for (std::size_t i = 0; i < got.size(); ++i) {
            EXPECT_EQ(got[i].identifier, want[i].identifier) << i;
            EXPECT_EQ(got[i].data, want[i].data) << i;
        }
    }
    EXPECT_EQ(records.size(), trace->frames());
    EXPECT_GT(records.size(), 8u);  // WHOAMI, replies, the read and the write with their answers
    for (std::size_t i = 1; i < records.size(); ++i) EXPECT_LE(records[i - 1].at, records[i].at) << i;

    // Wireshark's reading of the same file, where it is installed.
    const std::vector<std::string> lines = tshark_fields(path);
    if (lines.empty()) GTEST_SKIP() << "tshark is not installed; the capture was checked with libpcap only";
    ASSERT_EQ(lines.size(), records.size());
    for (std::size_t i = 0; i < records.size(); ++i) {
        std::istringstream fields(lines[i]);
        unsigned type = 99;
        std::string id;
        std::size_t length = 999;
        fields >> type >> id >> length;
        EXPECT_EQ(type, records[i].direction == FrameDirection::Sent ? 4u : 0u) << lines[i];
        EXPECT_EQ(std::stoul(id, nullptr, 0), records[i].identifier) << lines[i];
        EXPECT_EQ(length, records[i].data.size()) << lines[i];
    }
}

TEST_F(BusTraceTest, anUnwritableFileIsRefusedWithItsName) {
    const vk61::TraceOpened opened = vk61::PcapTrace::create(file("missing/folder/t.pcap"));
    EXPECT_EQ(opened.failure, vk61::TraceFailure::CannotWrite);
    EXPECT_EQ(opened.trace, nullptr);
    EXPECT_NE(describe(opened).find("missing/folder/t.pcap"), std::string::npos) << describe(opened);
}

}  // namespace
}  // namespace commstest
