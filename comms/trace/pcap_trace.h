// A bus trace that Wireshark and tshark open and decode as CAN FD: a pcap
// file of Linux cooked-capture records (link type LINUX_SLL), each carrying
// one SocketCAN CAN FD frame, with the direction in the packet type: frames
// this program sent are "outgoing", frames it received are "to this host".
// Written and read with libpcap.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "bus_frame.h"
#include "transport/frame_recorder.h"

struct pcap;
struct pcap_dumper;

namespace vk61 {

class PcapTrace;

// Why a trace could not be written or read back.
enum class TraceFailure : std::uint8_t {
    None,
    NoCapture,         // libpcap could not start a capture to write
    CannotWrite,       // the file cannot be created or emptied
    CannotOpen,        // the file cannot be opened as a pcap file
    NotCookedCapture,  // another link type
    NotCanFd,          // a record that holds no CAN FD frame
    UnknownDirection,  // a record's packet type is neither direction
    ReadFailed,        // reading a record failed
};

struct TraceResult {
    TraceFailure failure = TraceFailure::None;
    std::string path;
    std::string detail;  // libpcap's own message, where it gave one

    bool ok() const { return failure == TraceFailure::None; }
};

// "Could not write t.pcap: <why>", "not a CAN FD record", ...
std::string describe(const TraceResult& result);

// A trace file opened for writing; trace is null unless ok().
struct TraceOpened : TraceResult {
    std::unique_ptr<PcapTrace> trace;
};

class PcapTrace final : public FrameRecorder {
public:
    // Creates (or empties) the file at path.
    static TraceOpened create(const std::string& path);
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

// A trace as read back; records is empty unless ok().
struct TraceRead : TraceResult {
    std::vector<TraceRecord> records;
};

// Reads a trace written by PcapTrace; fails when the file is not such a trace.
TraceRead read_pcap_trace(const std::string& path);

}  // namespace vk61
