#include "transport/recording_transport.h"

namespace vk61 {

int RecordingTransport::send(const BusFrame& frame) {
    const int sent = inner_.send(frame);
    if (sent > 0) recorder_.record(frame, FrameDirection::Sent, std::chrono::system_clock::now());
    return sent;
}

int RecordingTransport::receive(BusFrame* frame, int timeout_ms) {
    const int got = inner_.receive(frame, timeout_ms);
    if (got > 0) recorder_.record(*frame, FrameDirection::Received, std::chrono::system_clock::now());
    return got;
}

}  // namespace vk61
