// The settings 0-39 by name, as the form, the configuration files and the
// command-line tool show them: for each a stable snake_case name, the indices
// it covers, its kind, the unit it is shown in, its two ranges, and the
// conversion between the record and a JSON value both ways.
//
// Two ranges, because a person and a unit are held to different limits:
//  - the entry range is what a person may enter (the form's widgets and
//    `config set`);
//  - the record range is what the record can hold and a unit can use: a file
//    (import, restore) may carry anything within it.
// A value read from the EFIS is kept as it is, whatever either range says;
// only what is about to be stored is checked (see record_rules.h).
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
#include <QStringList>

#include <array>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "config_record.h"

namespace vk61 {

enum class SettingKind {
    DisplayUnits,     // index 0: {"airspeed": "Knots", ..., "extra_bits": "0x00000000"}
    Integer,          // a plain whole number within the range
    Volts,            // tenths of a volt in the record, volts with one decimal in the file
    Registration,     // indices 11-13: "D-EXYZ"
    Colour,           // "#rrggbb" (opaque) or "#aarrggbb"
    Degrees,          // float32 bit pattern; a number, or "0x..." for what no number shows
    IcaoAddress,      // "A1B2C3"
    IcaoRandom,       // true = random address, false = ownship_icao
    EmitterCategory,  // "A0" ... "C5"
    MapView,          // "North Up" / "Track Up"
    TerminationUids,  // [1, 4]: UIDs with their terminating resistor on
    DefaultScreens,   // indices 36-39: {"1": "AHRS"}, UIDs whose screen is not Splash
};

// Which of a setting's two ranges a value is held to.
enum class ValueRange { Entry, Record };

// Bounds of a setting, in what its JSON value counts: the number (Integer,
// Volts, Degrees and the kinds stored as a number), a UID (TerminationUids)
// or a screen code (DefaultScreens). Unused by DisplayUnits, Registration and
// Colour, which have no order.
struct Bounds {
    double minimum;
    double maximum;
};

struct SettingEntry {
    std::string_view name;
    unsigned first_index;
    unsigned index_count;
    SettingKind kind;
    std::string_view unit;  // what the number or text is in ("V", "degrees", "" for none)
    Bounds entry;           // what a person may enter
    Bounds record;          // what a file may carry and a unit can use

    const Bounds& bounds(ValueRange range) const { return range == ValueRange::Entry ? entry : record; }
};

// Every setting, in index order; together they cover 0-39 exactly once.
std::span<const SettingEntry> settings_catalogue();
// The entry of name, or null.
const SettingEntry* find_setting(std::string_view name);
// The setting that covers index (every index 0-39 has one), or null.
const SettingEntry* setting_of_index(unsigned index);
// The names of the settings covering indices, each once, in the order first
// met: a setting of several indices (the registration) is one name.
QStringList distinct_setting_names(const std::vector<unsigned>& indices);
// The same, joined: "v_s0, registration".
QString setting_names(const std::vector<int>& indices);

// The default screens a unit can start on (byte code = position in the list).
inline constexpr std::array<std::string_view, 6> kDefaultScreenNames = {"Splash",   "AHRS",      "ADSB",
                                                                        "Airspeed", "Altimeter", "Directional Gyro"};

// The setting as a JSON value, from record.
QJsonValue setting_to_json(const SettingEntry& entry, const ConfigRecord& record);

// Stores value into entry's indices of record. On a value of the wrong
// type, outside the given range or malformed returns false, leaves record
// untouched and sets *error to a message that names the setting.
bool setting_from_json(const SettingEntry& entry, const QJsonValue& value, ConfigRecord& record, QString* error,
                       ValueRange range);

// Why the value record holds for entry lies outside the range ("300 is out
// of range 0 to 240"), or "" when it lies within.
QString setting_range_violation(const SettingEntry& entry, const ConfigRecord& record, ValueRange range);

// The setting as the form shows it, for people: "240", "12.5 V", "#87ceeb".
QString setting_display_text(const SettingEntry& entry, const ConfigRecord& record);

// Whether the two records hold the same value for entry.
bool setting_equal(const SettingEntry& entry, const ConfigRecord& a, const ConfigRecord& b);

}  // namespace vk61
