#include "transport/recording_transport.h"

namespace vk61 {

bool RecordingTransport::send(const BusFrame& frame) {
    const bool sent = inner_.send(frame);
    if (sent) recorder_.record(frame, FrameDirection::Sent, std::chrono::system_clock::now());
    return sent;
}

Received RecordingTransport::receive(BusFrame* frame, int timeout_ms) {
    const Received got = inner_.receive(frame, timeout_ms);
    if (got == Received::Frame) recorder_.record(*frame, FrameDirection::Received, std::chrono::system_clock::now());
    return got;
}

}  // namespace vk61
