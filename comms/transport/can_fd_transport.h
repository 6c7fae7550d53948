// Direct CAN FD link. The tool carries the link type, but no working CAN
// implementation: opening always fails, so every connection runs over USB HID.
#pragma once

#include <string>
#include <utility>

#include "bus_frame.h"
#include "transport/transport.h"

namespace vk61 {

class CanFdTransport final : public Transport {
public:
    CanFdTransport() = default;
    // open() opens the interface of this name.
    explicit CanFdTransport(std::string name) : name_(std::move(name)) {}

    bool open_interface(const std::string& name);
    void close_interface();
    bool is_open() const override { return open_ && socket_ >= 0; }
    int send_frame(const BusFrame& frame);
    int receive_frame(BusFrame* frame, int timeout_ms);

    InterfaceKind kind() const override { return InterfaceKind::CanFd; }
    bool open() override { return open_interface(name_); }
    void close() override { close_interface(); }
    bool send(const BusFrame& frame) override { return send_frame(frame) > 0; }
    Received receive(BusFrame* frame, int timeout_ms) override {
        return received_from_count(receive_frame(frame, timeout_ms));
    }

private:
    std::string name_;
    int socket_ = -1;
    bool open_ = false;
    std::string interface_name_;
};

}  // namespace vk61
