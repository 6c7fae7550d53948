// Where a recording link puts the frames it sees: a bus trace for support
// (trace/pcap_trace.h writes one that Wireshark opens) or a test's list.
#pragma once

#include <chrono>

#include "bus_frame.h"

namespace vk61 {

enum class FrameDirection {
    Received,  // from the bus to this program
    Sent,      // from this program to the bus
};

class FrameRecorder {
public:
    virtual ~FrameRecorder() = default;
    // Called from any thread, once per frame, in the order each thread saw
    // them; must not block for long (it runs on the link's paths).
    virtual void record(const BusFrame& frame, FrameDirection direction, std::chrono::system_clock::time_point at) = 0;
};

}  // namespace vk61
