// The bus trace an operation that broke a check leaves beside the soak's
// report: read back as a pcap trace, it must hold that operation's frames in
// both directions, and none from before the operation began.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "operation_trace.h"
#include "protocol.h"
#include "soak_rig.h"
#include "trace/pcap_trace.h"

namespace soak {
namespace {

using namespace std::chrono_literals;

std::vector<std::uint8_t> payload_of(const vk61::BusFrame& frame) {
    return {frame.data(), frame.data() + frame.payload_size()};
}

TEST(OperationTraceFile, holdsTheOperationsFramesOnly) {
    SoakRig rig(2, 200us);
    OperationTrace trace;
    rig.comms().record_frames(&trace);
    std::string problem;
    ASSERT_TRUE(rig.connect(&problem)) << problem;
    ASSERT_GT(trace.frames(), 0u);  // connecting: who-am-I requests and replies

    // The operation: setting reads of the primary unit. The pcap file keeps
    // microseconds.
    const auto started = std::chrono::floor<std::chrono::microseconds>(std::chrono::system_clock::now());
    trace.begin_operation();
    rig.bus().clear_host_frames();
    const std::uint8_t indices[] = {3, 9, 24};
    for (const std::uint8_t index : indices) ASSERT_TRUE(rig.setting_read_answers(index, 1000ms, &problem)) << problem;
    std::vector<vk61::BusFrame> reads_received;
    for (const sim::HostFrame& f : rig.bus().host_frames()) {
        if (f.frame.base() == vk61::protocol::kSettingRead) reads_received.push_back(f.frame);
    }
    ASSERT_GE(reads_received.size(), std::size(indices));  // a slow machine may add a retry

    const std::string path =
        (std::filesystem::temp_directory_path() / ("vk61_operation_trace_" + std::to_string(::getpid()) + ".pcap"))
            .string();
    std::string error;
    const std::optional<std::size_t> written = trace.write(path, &error);
    ASSERT_TRUE(written.has_value()) << error;
    const vk61::TraceRead read = vk61::read_pcap_trace(path);
    std::filesystem::remove(path);
    ASSERT_TRUE(read.ok()) << describe(read);
    const std::vector<vk61::TraceRecord>& records = read.records;
    ASSERT_EQ(records.size(), *written);

    std::vector<const vk61::TraceRecord*> reads_sent;
    for (const vk61::TraceRecord& r : records) {
        EXPECT_GE(r.at, started) << "a frame from before the operation, identifier 0x" << std::hex << r.identifier;
        const std::uint32_t base = r.identifier & vk61::protocol::kBaseMask;
        if (base == vk61::protocol::kSettingRead && r.direction == vk61::FrameDirection::Sent) reads_sent.push_back(&r);
    }
    // The reads as the units got them, sent.
    ASSERT_EQ(reads_sent.size(), reads_received.size());
    for (std::size_t i = 0; i < reads_sent.size(); ++i) {
        EXPECT_EQ(reads_sent[i]->identifier, reads_received[i].identifier()) << "read " << i;
        EXPECT_EQ(reads_sent[i]->data, payload_of(reads_received[i])) << "read " << i;
    }
    // Each read's answer, received.
    for (const std::uint8_t index : indices) {
        const bool answered = std::any_of(records.begin(), records.end(), [index](const vk61::TraceRecord& r) {
            return r.direction == vk61::FrameDirection::Received &&
                   (r.identifier & vk61::protocol::kBaseMask) == vk61::protocol::kSettingReply && r.data.size() > 1 &&
                   r.data[1] == index;
        });
        EXPECT_TRUE(answered) << "no reply to the read of index " << static_cast<unsigned>(index);
    }
}

}  // namespace
}  // namespace soak
