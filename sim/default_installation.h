// The installation the demo and most tests start from.
#pragma once

#include "installation.h"
#include "unit.h"

#include <vector>

namespace sim {

// count units (1-15) on UIDs 1..count: UID 1 is the EFIS (type 0xC3, device id
// 0xC3010001, firmware 1.4.2), UID 2 a companion of type 0xD5 (0xD5020002,
// firmware 2.1.0), UID 3 one of type 0xFF (0xFF010003, firmware 1.0.3); further
// UIDs alternate between the two companion types.
std::vector<UnitSpec> default_units(unsigned count = 3);

// Adds default_units(count) to the installation.
void add_default_units(Installation& bus, unsigned count = 3);

}  // namespace sim
