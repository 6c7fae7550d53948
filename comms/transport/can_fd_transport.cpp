#include "can_fd_transport.h"

namespace vk61 {

bool CanFdTransport::open_interface(const std::string& name) {
    interface_name_ = name;
    open_ = false;
    return false;
}

void CanFdTransport::close_interface() {
    open_ = false;
    interface_name_.clear();
}

int CanFdTransport::send_frame(const BusFrame&) { return -1; }

int CanFdTransport::receive_frame(BusFrame*, int) { return -1; }

}  // namespace vk61
