// Which unit a firmware fetch is for, the same in both front ends.
#pragma once

#include <cstdint>
#include <vector>

#include "device_info.h"

// The addressed (primary) unit when its identity is known, else the first
// identified unit in the order given; null when no unit has identified itself.
const vk61::DeviceInfo* choose_fetch_unit(const std::vector<vk61::DeviceInfo>& units, std::uint8_t addressed);
