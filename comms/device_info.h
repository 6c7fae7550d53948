#pragma once

#include <cstdint>

#include "protocol.h"

namespace vk61 {

// One unit in the manager's registry.
struct DeviceInfo {
    static constexpr std::uint32_t kUnknownDeviceId = 0xFFFFFFFFu;

    // Type code and hardware revision (protocol::device_type and
    // device_revision); kUnknownDeviceId for a placeholder (seen in an
    // occupancy report, not yet identified).
    std::uint32_t device_id = kUnknownDeviceId;
    // Major, minor, patch and release candidate, one byte each from the top
    // (protocol::firmware_major and its neighbours read them).
    std::uint32_t firmware = 0;
    std::uint8_t uid = 0;
    bool occupied = false;
    bool alive = false;
    std::uint8_t spare = 0;

    bool is_placeholder() const { return device_id == kUnknownDeviceId; }
    std::uint8_t type_code() const { return protocol::device_type(device_id); }
    std::uint8_t hardware_revision() const { return protocol::device_revision(device_id); }
};
static_assert(sizeof(DeviceInfo) == 12);

}  // namespace vk61
