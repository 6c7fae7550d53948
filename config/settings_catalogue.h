// The settings 0-39 by name, as the form, the configuration files and the
// command-line tool show them: for each a stable snake_case name, the indices
// it covers, its kind, the unit it is shown in, its range, and the conversion
// between the record and a JSON value both ways.
//
// The JSON value says what the form means (volts, degrees, "#rrggbb",
// "D-EXYZ"), yet whatever the record holds comes back exactly, including
// what the form cannot show: the units bits 9-31, the alpha byte of a colour,
// a registration without a known prefix, reserved_30. Such values get a form
// of their own (an "extra_bits" member, "#aarrggbb", a "0x..." bit pattern)
// rather than being rounded to what the form would make of them.
#pragma once

#include <QJsonValue>
#include <QString>

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

#include "config_record.h"

namespace vk61 {

enum class SettingKind {
    DisplayUnits,  // index 0: {"airspeed": "Knots", ..., "extra_bits": "0x00000000"}
    Integer,       // a plain number within [minimum, maximum]
    Volts,         // tenths of a volt in the record, volts with one decimal in the file
    Registration,  // indices 11-13: "D-EXYZ"
    Colour,        // "#rrggbb" (opaque) or "#aarrggbb"
    Degrees,       // float32 bit pattern; a number, or "0x..." for what no number shows
    IcaoAddress,   // "A1B2C3"
    IcaoRandom,    // true = random address, false = ownship_icao
    EmitterCategory,  // "A0" ... "C5"
    MapView,       // "North Up" / "Track Up"
    TerminationUids,  // [1, 4]: UIDs with their terminating resistor on
    DefaultScreens,   // indices 36-39: {"1": "AHRS"}, UIDs whose screen is not Splash
};

struct SettingEntry {
    std::string_view name;
    unsigned first_index;
    unsigned index_count;
    SettingKind kind;
    std::string_view unit;  // what the number or text is in ("V", "degrees", "" for none)
    double minimum;         // readable range of Integer, Volts and Degrees
    double maximum;
};

// Every setting, in index order; together they cover 0-39 exactly once.
std::span<const SettingEntry> settings_catalogue();
// The entry of name, or null.
const SettingEntry* find_setting(std::string_view name);

// The default screens a unit can start on (byte code = position in the list).
inline constexpr std::array<std::string_view, 6> kDefaultScreenNames = {
    "Splash", "AHRS", "ADSB", "Airspeed", "Altimeter", "Directional Gyro"};

// The setting as a JSON value, from record.
QJsonValue setting_to_json(const SettingEntry& entry, const ConfigRecord& record);

// Stores value into entry's indices of record. On a value of the wrong
// type, out of range or malformed returns false, leaves record untouched and
// sets *error to a message that names the setting.
bool setting_from_json(const SettingEntry& entry, const QJsonValue& value, ConfigRecord& record, QString* error);

// The setting as the form shows it, for people: "240", "12.5 V", "#87ceeb".
QString setting_display_text(const SettingEntry& entry, const ConfigRecord& record);

// Whether the two records hold the same value for entry.
bool setting_equal(const SettingEntry& entry, const ConfigRecord& a, const ConfigRecord& b);

}  // namespace vk61
