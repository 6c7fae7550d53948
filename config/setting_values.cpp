#include "setting_values.h"

#include <bit>
#include <cmath>

namespace vk61 {

namespace {
// Far below a tenth, far above the error of one multiplication.
constexpr double kTenthsTolerance = 1e-6;
}  // namespace

std::uint32_t volts_to_tenths(double volts) {
    const double tenths = std::trunc(volts * 10.0 + kTenthsTolerance);
    if (!(tenths > 0.0)) return 0;
    if (tenths >= 4294967295.0) return 0xFFFFFFFFu;
    return static_cast<std::uint32_t>(tenths);
}

std::uint32_t float_setting(double value) { return std::bit_cast<std::uint32_t>(static_cast<float>(value)); }

double float_from_setting(std::uint32_t bits) { return static_cast<double>(std::bit_cast<float>(bits)); }

}  // namespace vk61
