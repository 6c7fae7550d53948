// Direct CAN FD link. The tool carries the link type, but no working CAN
// implementation: opening always fails, so every connection runs over USB HID.
#pragma once

#include <string>

#include "bus_frame.h"

namespace vk61 {

class CanFdTransport {
public:
    bool open_interface(const std::string& name);
    void close_interface();
    bool is_open() const { return open_ && socket_ >= 0; }
    int send_frame(const BusFrame& frame);
    int receive_frame(BusFrame* frame, int timeout_ms);

private:
    int socket_ = -1;
    bool open_ = false;
    std::string interface_name_;
};

}  // namespace vk61
