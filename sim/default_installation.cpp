#include "default_installation.h"

#include <algorithm>

namespace sim {

std::vector<UnitSpec> default_units(unsigned count) {
    count = std::clamp(count, 1u, 15u);
    std::vector<UnitSpec> units;
    for (unsigned uid = 1; uid <= count; ++uid) {
        UnitSpec unit_spec;
        unit_spec.uid = static_cast<std::uint8_t>(uid);
        if (uid == 1) {
            unit_spec.device_id = 0xC3010001u;
            unit_spec.firmware = 0x01040200u;  // 1.4.2
        } else if (uid % 2 == 0) {
            unit_spec.device_id = 0xD5020000u | uid;
            unit_spec.firmware = 0x02010000u;  // 2.1.0
        } else {
            unit_spec.device_id = 0xFF010000u | uid;
            unit_spec.firmware = 0x01000300u;  // 1.0.3
        }
        units.push_back(unit_spec);
    }
    return units;
}

void add_default_units(Installation& bus, unsigned count) {
    for (const auto& unit_spec : default_units(count)) bus.add_unit(unit_spec);
}

}  // namespace sim
