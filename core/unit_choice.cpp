#include "core/unit_choice.h"

const vk61::DeviceInfo* choose_fetch_unit(const std::vector<vk61::DeviceInfo>& units, std::uint8_t addressed) {
    for (const vk61::DeviceInfo& unit : units) {
        if (unit.uid == addressed && !unit.is_placeholder()) return &unit;
    }
    for (const vk61::DeviceInfo& unit : units) {
        if (!unit.is_placeholder()) return &unit;
    }
    return nullptr;
}
