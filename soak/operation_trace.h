// The bus frames of the operation in progress, kept so that an operation that
// breaks a check can leave its trace beside the report: a pcap file Wireshark
// opens (comms/trace/pcap_trace.h). Only the current operation's frames are
// held, in memory: begin_operation() forgets the previous one, so a long run
// costs no more than its largest operation and nothing is written for an
// operation that passes.
#pragma once

#include <chrono>
#include <cstddef>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "bus_frame.h"
#include "transport/frame_recorder.h"

namespace soak {

class OperationTrace final : public vk61::FrameRecorder {
public:
    // Any thread (the link's send and receive paths); a copy under a lock.
    void record(const vk61::BusFrame& frame, vk61::FrameDirection direction,
                std::chrono::system_clock::time_point at) override;

    // Forgets the frames so far: the next operation starts with none.
    void begin_operation();
    std::size_t frames() const;

    // Writes the frames recorded since begin_operation() to path as a pcap
    // trace and returns how many; nothing, with the reason in error, when the
    // file cannot be written.
    std::optional<std::size_t> write(const std::string& path, std::string* error) const;

private:
    struct Record {
        vk61::BusFrame frame;
        vk61::FrameDirection direction;
        std::chrono::system_clock::time_point at;
    };

    mutable std::mutex mutex_;
    std::vector<Record> records_;  // guarded by mutex_; keeps its capacity across operations
};

}  // namespace soak
