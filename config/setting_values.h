// Conversions between what the form shows and the 32-bit setting values.
#pragma once

#include <cstdint>

namespace vk61 {

// Volts as the form shows them to tenths of a volt, truncated toward zero.
// The form holds one decimal, so the value is meant to be a whole number of
// tenths: a binary rounding error just below it (12.3 * 10 = 122.99999...)
// must not lose a tenth. Negative and NaN give 0.
std::uint32_t volts_to_tenths(double volts);

// Attitude corrections travel as the bit pattern of a single-precision float.
std::uint32_t float_setting(double value);
double float_from_setting(std::uint32_t bits);

// Colours are ARGB words; the form chooses opaque #rrggbb colours.
inline constexpr std::uint32_t opaque_colour(std::uint32_t rgb) { return 0xFF000000u | (rgb & 0x00FFFFFFu); }

}  // namespace vk61
