// A link to the bus, as the manager drives it: open, close, send one frame,
// receive one frame within a time-out. The USB HID bridge and the CAN FD link
// implement it; RecordingTransport wraps either to keep a trace.
//
// Threads: send() may be called from any thread (the manager serialises
// senders with its transmit lock); receive(), open() and close() only from the
// side that owns the link (the receive thread, or the manager before it starts
// and after it was joined).
#pragma once

#include <cstdint>

#include "bus_frame.h"
#include "transport/interface_kind.h"

namespace vk61 {

// What one receive() came to.
enum class Received : std::uint8_t {
    Frame,    // frame was filled
    Nothing,  // nothing came within the time-out
    Failed,   // a read error, or a report too short to hold a frame
};

// The receive result of a hidapi-style count: > 0 bytes, 0 nothing, < 0 error.
inline Received received_from_count(int got) {
    return got > 0 ? Received::Frame : got == 0 ? Received::Nothing : Received::Failed;
}

class Transport {
public:
    virtual ~Transport() = default;

    virtual InterfaceKind kind() const = 0;
    virtual bool open() = 0;
    virtual void close() = 0;
    virtual bool is_open() const = 0;
    // Whether the link took the frame.
    virtual bool send(const BusFrame& frame) = 0;
    // Waits at most timeout_ms for one frame.
    virtual Received receive(BusFrame* frame, int timeout_ms) = 0;
};

}  // namespace vk61
