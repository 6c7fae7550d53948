// The configuration a unit leaves the factory with.
#pragma once

#include "config_image.h"

namespace sim {

// Plausible settings (knots, feet, Celsius, inHg; voltage limits 11.5/15.5 V;
// registration "N123AB"), header words magic "ZEQ_", memory_version 3,
// num_elements 35, and a checksum word equal to config_image_crc of the image.
ConfigImage default_config_image();

}  // namespace sim
