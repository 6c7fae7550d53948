// The display-units setting (index 0): a bit field with one bit per unit,
// of which the form shows one choice per quantity.
#pragma once

#include <cstdint>

namespace vk61 {

// Positions in the form's four lists: airspeed MPH/Knots/KPH, altitude
// Feet/Meters, temperature Fahrenheit/Celsius, pressure InHg/Mbar. -1 means
// nothing selected.
struct DisplayUnits {
    int airspeed = 1;
    int altitude = 0;
    int temperature = 0;
    int pressure = 0;
};

// The units word for the selection, built on current: bits 0-8 follow the
// selection, bits 9-31 keep their value.
std::uint32_t units_word(std::uint32_t current, const DisplayUnits& selected);

// The selection a units word shows: the lowest airspeed bit set (knots if
// none), and for each pair the second unit only when its bit is set.
DisplayUnits display_units_of(std::uint32_t word);

}  // namespace vk61
