#pragma once

#include <cstdint>

namespace vk61 {

// One unit in the manager's registry.
struct DeviceInfo {
    static constexpr std::uint32_t kUnknownDeviceId = 0xFFFFFFFFu;

    // Type code in bits 24-31, hardware revision in bits 16-23;
    // kUnknownDeviceId for a placeholder (seen in an occupancy report, not
    // yet identified).
    std::uint32_t device_id = kUnknownDeviceId;
    // Major in bits 24-31, minor 16-23, patch 8-15, release candidate 0-7.
    std::uint32_t firmware = 0;
    std::uint8_t uid = 0;
    bool occupied = false;
    bool alive = false;
    std::uint8_t spare = 0;

    bool is_placeholder() const { return device_id == kUnknownDeviceId; }
    std::uint8_t type_code() const { return static_cast<std::uint8_t>(device_id >> 24); }
    std::uint8_t hardware_revision() const { return static_cast<std::uint8_t>(device_id >> 16); }
};
static_assert(sizeof(DeviceInfo) == 12);

}  // namespace vk61
