// Conversions between form values and setting values.
#include "config/display_units.h"
#include "config/setting_values.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

namespace {

TEST(VoltsToTenths, everyFormValueIsExact) {
    for (int tenths = 50; tenths <= 650; ++tenths) {
        // The value as a one-decimal spin box holds it: the nearest double.
        char text[16];
        std::snprintf(text, sizeof text, "%.1f", tenths / 10.0);
        EXPECT_EQ(vk61::volts_to_tenths(std::strtod(text, nullptr)), static_cast<std::uint32_t>(tenths)) << text;
        // And as repeated stepping by 0.1 may leave it, just below.
        EXPECT_EQ(vk61::volts_to_tenths(std::nextafter(tenths / 10.0, 0.0)), static_cast<std::uint32_t>(tenths))
            << text;
    }
}

TEST(VoltsToTenths, truncatesTowardZeroAndRejectsNonsense) {
    EXPECT_EQ(vk61::volts_to_tenths(12.36), 123u);
    EXPECT_EQ(vk61::volts_to_tenths(12.39), 123u);
    EXPECT_EQ(vk61::volts_to_tenths(-1.0), 0u);
    EXPECT_EQ(vk61::volts_to_tenths(std::numeric_limits<double>::quiet_NaN()), 0u);
}

TEST(FloatSetting, travelsAsSinglePrecisionBits) {
    EXPECT_EQ(vk61::float_setting(0.0), 0u);
    EXPECT_EQ(vk61::float_setting(1.5), 0x3FC00000u);
    EXPECT_EQ(vk61::float_setting(-90.0), 0xC2B40000u);
    EXPECT_FLOAT_EQ(static_cast<float>(vk61::float_from_setting(vk61::float_setting(12.3))), 12.3f);
}

TEST(OpaqueColour, alwaysSetsAlpha) {
    EXPECT_EQ(vk61::opaque_colour(0xFFFFFF), 0xFFFFFFFFu);
    EXPECT_EQ(vk61::opaque_colour(0x12345678), 0xFF345678u);
}

struct UnitsRow {
    const char* name;
    vk61::DisplayUnits selected;
    std::uint32_t current;
    std::uint32_t word;
};

TEST(UnitsWord, table) {
    const UnitsRow rows[] = {
        {"allFirst", {0, 0, 0, 0}, 0, 0x01u | 0x08u | 0x20u | 0x80u},
        {"allSecond", {1, 1, 1, 1}, 0, 0x02u | 0x10u | 0x40u | 0x100u},
        {"kph", {2, 0, 0, 0}, 0, 0x04u | 0x08u | 0x20u | 0x80u},
        {"noAirspeedSelected", {-1, 0, 0, 0}, 0x07u, 0x08u | 0x20u | 0x80u},
        {"metersClearsFeetKeepsHighBits",
         {1, 1, 0, 0},
         0xFFFFFE00u | 0x08u,
         0xFFFFFE00u | 0x02u | 0x10u | 0x20u | 0x80u},
    };
    for (const UnitsRow& row : rows) EXPECT_EQ(vk61::units_word(row.current, row.selected), row.word) << row.name;
}

TEST(UnitsWord, decodePrefersLowestAirspeedBitAndDefaultsToKnots) {
    struct Row {
        std::uint32_t word;
        int airspeed, altitude, temperature, pressure;
    };
    const Row rows[] = {
        {0x000, 1, 0, 0, 0}, {0x007, 0, 0, 0, 0}, {0x006, 1, 0, 0, 0}, {0x004, 2, 0, 0, 0},
        {0x018, 1, 1, 0, 0}, {0x060, 1, 0, 1, 0}, {0x180, 1, 0, 0, 1}, {0xFFFFFE00, 1, 0, 0, 0},
    };
    for (const Row& row : rows) {
        const auto units = vk61::display_units_of(row.word);
        EXPECT_EQ(units.airspeed, row.airspeed) << std::hex << row.word;
        EXPECT_EQ(units.altitude, row.altitude) << std::hex << row.word;
        EXPECT_EQ(units.temperature, row.temperature) << std::hex << row.word;
        EXPECT_EQ(units.pressure, row.pressure) << std::hex << row.word;
    }
}

}  // namespace
