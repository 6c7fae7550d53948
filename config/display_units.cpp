#include "display_units.h"

namespace vk61 {

namespace {
constexpr std::uint32_t kMph = 1u << 0;
constexpr std::uint32_t kKnots = 1u << 1;
constexpr std::uint32_t kKph = 1u << 2;
constexpr std::uint32_t kFeet = 1u << 3;
constexpr std::uint32_t kMeters = 1u << 4;
constexpr std::uint32_t kFahrenheit = 1u << 5;
constexpr std::uint32_t kCelsius = 1u << 6;
constexpr std::uint32_t kInHg = 1u << 7;
constexpr std::uint32_t kMbar = 1u << 8;
constexpr std::uint32_t kFormBits = 0x1FFu;

// The lower bit of a pair for every choice but the second item.
std::uint32_t pair_bit(int index, std::uint32_t first, std::uint32_t second) { return index == 1 ? second : first; }
}  // namespace

std::uint32_t units_word(std::uint32_t current, const DisplayUnits& selected) {
    std::uint32_t word = current & ~kFormBits;
    if (selected.airspeed >= 0 && selected.airspeed <= 2) word |= 1u << selected.airspeed;
    word |= pair_bit(selected.altitude, kFeet, kMeters);
    word |= pair_bit(selected.temperature, kFahrenheit, kCelsius);
    word |= pair_bit(selected.pressure, kInHg, kMbar);
    return word;
}

DisplayUnits display_units_of(std::uint32_t word) {
    DisplayUnits units;
    units.airspeed = (word & kMph) ? 0 : (word & kKnots) ? 1 : (word & kKph) ? 2 : 1;
    units.altitude = (word & kMeters) ? 1 : 0;
    units.temperature = (word & kCelsius) ? 1 : 0;
    units.pressure = (word & kMbar) ? 1 : 0;
    return units;
}

}  // namespace vk61
