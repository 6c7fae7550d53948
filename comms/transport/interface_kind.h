#pragma once

#include <cstdint>

namespace vk61 {

// Which link the manager talks through. Any other value means no usable link.
enum class InterfaceKind : std::uint8_t {
    UsbHid = 0,
    CanFd = 1,
};

}  // namespace vk61
