// A bus trace that Wireshark and tshark open and decode as CAN FD: a pcap
// file of Linux cooked-capture records (link type LINUX_SLL), each carrying
// one SocketCAN CAN FD frame, with the direction in the packet type: frames
// this program sent are "outgoing", frames it received are "to this host".
// Written and read with libpcap.
#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "bus_frame.h"
#include "transport/frame_recorder.h"

struct pcap;
struct pcap_dumper;

namespace vk61 {

class PcapTrace final : public FrameRecorder {
public:
    // Creates (or empties) the file at path. Null, with the reason in error,
    // when it cannot be written.
    static std::unique_ptr<PcapTrace> create(const std::string& path, std::string* error);
    ~PcapTrace() override;  // flushes and closes the file
    PcapTrace(const PcapTrace&) = delete;
    PcapTrace& operator=(const PcapTrace&) = delete;

    // Any thread; records are written in the order the calls take the lock.
    void record(const BusFrame& frame, FrameDirection direction, std::chrono::system_clock::time_point at) override;
    // Pushes what was recorded to the file; false when a write failed.
    bool flush();
    std::size_t frames() const;

private:
    PcapTrace(pcap* handle, pcap_dumper* dumper) : handle_(handle), dumper_(dumper) {}

    mutable std::mutex mutex_;
    pcap* handle_;
    pcap_dumper* dumper_;
    std::size_t frames_ = 0;                              // guarded by mutex_
    std::chrono::steady_clock::time_point last_flush_{};  // guarded by mutex_
};

// One record of a trace as read back.
struct TraceRecord {
    FrameDirection direction = FrameDirection::Received;
    std::uint32_t identifier = 0;    // 11-bit CAN identifier
    std::vector<std::uint8_t> data;  // the frame's data bytes (its DLC code's length)
    std::chrono::system_clock::time_point at;
};

// Reads a trace written by PcapTrace; false with a reason when the file is
// not such a trace.
bool read_pcap_trace(const std::string& path, std::vector<TraceRecord>* records, std::string* error);

}  // namespace vk61
