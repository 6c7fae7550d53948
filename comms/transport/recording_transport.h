// A link that records every frame it sends or receives, then passes it on:
// wraps the USB HID bridge or the CAN FD link without changing either.
// A frame is recorded as sent only when the link took it.
#pragma once

#include <memory>

#include "transport/frame_recorder.h"
#include "transport/transport.h"

namespace vk61 {

class RecordingTransport final : public Transport {
public:
    // Neither is owned; both must outlive this link.
    RecordingTransport(Transport& inner, FrameRecorder& recorder) : inner_(inner), recorder_(recorder) {}

    InterfaceKind kind() const override { return inner_.kind(); }
    bool open() override { return inner_.open(); }
    void close() override { inner_.close(); }
    bool is_open() const override { return inner_.is_open(); }
    bool send(const BusFrame& frame) override;
    Received receive(BusFrame* frame, int timeout_ms) override;

private:
    Transport& inner_;
    FrameRecorder& recorder_;
};

}  // namespace vk61
