// A link to the bus, as the manager drives it: open, close, send one frame,
// receive one frame within a time-out. The USB HID bridge and the CAN FD link
// implement it; RecordingTransport wraps either to keep a trace.
//
// Threads: send() may be called from any thread (the manager serialises
// senders with its transmit lock); receive(), open() and close() only from the
// side that owns the link (the receive thread, or the manager before it starts
// and after it was joined).
#pragma once

#include "bus_frame.h"
#include "transport/interface_kind.h"

namespace vk61 {

class Transport {
public:
    virtual ~Transport() = default;

    virtual InterfaceKind kind() const = 0;
    virtual bool open() = 0;
    virtual void close() = 0;
    virtual bool is_open() const = 0;
    // > 0 when the link took the frame; 0 or less when it did not.
    virtual int send(const BusFrame& frame) = 0;
    // > 0 with frame filled; 0 when nothing came within timeout_ms; < 0 on
    // an error.
    virtual int receive(BusFrame* frame, int timeout_ms) = 0;
};

}  // namespace vk61
