// The settings catalogue: names that mean what the form means, and every
// value a record can hold coming back exactly through its JSON text.
#include "config/settings_catalogue.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <bitset>
#include <random>
#include <regex>
#include <set>
#include <string>

#include "config/config_record.h"
#include "config/record_rules.h"
#include "config/registration.h"

namespace {

using vk61::ConfigRecord;
using vk61::SettingEntry;

const SettingEntry& entry(const char* name) {
    const SettingEntry* found = vk61::find_setting(name);
    if (found == nullptr) throw std::runtime_error(std::string("no setting ") + name);
    return *found;
}

// The value through the JSON text a file would hold, not only the in-memory
// value: numbers must survive being written and parsed.
QJsonValue throughText(const QJsonValue& value) {
    QJsonObject wrapper;
    wrapper["v"] = value;
    const QByteArray text = QJsonDocument(wrapper).toJson();
    return QJsonDocument::fromJson(text).object().value("v");
}

// A record whose every byte differs from `from`, so that a setting that is
// not written shows.
ConfigRecord otherThan(const ConfigRecord& from) {
    ConfigRecord other;
    for (std::size_t i = 0; i < ConfigRecord::kSize; ++i) other.bytes[i] = static_cast<std::uint8_t>(~from.bytes[i]);
    return other;
}

::testing::AssertionResult roundTrips(const SettingEntry& setting, const ConfigRecord& source) {
    ConfigRecord target = otherThan(source);
    QString error;
    const QJsonValue json = throughText(vk61::setting_to_json(setting, source));
    if (!vk61::setting_from_json(setting, json, target, &error, vk61::ValueRange::Record)) {
        return ::testing::AssertionFailure() << "refused its own export: " << error.toStdString();
    }
    for (unsigned i = 0; i < setting.index_count; ++i) {
        const unsigned index = setting.first_index + i;
        if (vk61::config_get_value(target, index) != vk61::config_get_value(source, index)) {
            return ::testing::AssertionFailure()
                   << "index " << index << " came back as 0x" << std::hex << vk61::config_get_value(target, index)
                   << " instead of 0x" << vk61::config_get_value(source, index) << " through "
                   << QJsonDocument(QJsonObject{{"v", json}}).toJson(QJsonDocument::Compact).toStdString();
        }
    }
    return ::testing::AssertionSuccess();
}

const SettingEntry& entryOfIndex(unsigned index) {
    for (const SettingEntry& setting : vk61::settings_catalogue()) {
        if (index >= setting.first_index && index < setting.first_index + setting.index_count) return setting;
    }
    throw std::runtime_error("index not in the catalogue");
}

ConfigRecord recordWith(unsigned index, std::uint32_t value) {
    ConfigRecord record;
    vk61::config_set_value(record, index, value);
    return record;
}

ConfigRecord recordWithRegistration(const std::array<std::uint8_t, 12>& bytes) {
    ConfigRecord record;
    const auto words = vk61::registration_words(bytes);
    for (unsigned i = 0; i < 3; ++i) vk61::config_set_value(record, 11 + i, words[i]);
    return record;
}

TEST(SettingsCatalogue, coversEverySettingOnceUnderUniqueSnakeCaseNames) {
    std::bitset<40> covered;
    std::set<std::string_view> names;
    const std::regex snake("^[a-z][a-z0-9]*(_[a-z0-9]+)*$");
    for (const SettingEntry& setting : vk61::settings_catalogue()) {
        EXPECT_TRUE(std::regex_match(std::string(setting.name), snake)) << setting.name;
        EXPECT_TRUE(names.insert(setting.name).second) << "twice: " << setting.name;
        EXPECT_EQ(vk61::find_setting(setting.name), &setting);
        for (unsigned i = 0; i < setting.index_count; ++i) {
            const unsigned index = setting.first_index + i;
            ASSERT_LT(index, 40u) << setting.name;
            EXPECT_FALSE(covered.test(index)) << "index " << index << " covered twice";
            covered.set(index);
        }
    }
    EXPECT_TRUE(covered.all()) << covered;
    EXPECT_EQ(vk61::find_setting("no_such_setting"), nullptr);
}

// Edge values the form cannot show, or shows only in part.
TEST(SettingsCatalogue, edgeValuesRoundTripExactly) {
    struct Row {
        const char* what;
        unsigned index;
        std::uint32_t value;
    };
    const Row rows[] = {
        {"white", 19, 0xFFFFFFFFu},
        {"black, transparent", 14, 0x00000000u},
        {"alpha byte kept", 22, 0x80FF0000u},
        {"unknown units bit 9", 0, 0x00000200u | 0x2u | 0x8u | 0x20u | 0x80u},
        {"every units bit", 0, 0xFFFFFFFFu},
        {"no units bit", 0, 0x0u},
        {"MPH and knots both", 0, 0x3u},
        {"reserved_30", 30, 0xDEADBEEFu},
        {"negative roll", 25, 0xC1480000u /* -12.5 */},
        {"roll -90", 25, 0xC2B40000u},
        {"pitch 0.1 as a float", 26, 0x3DCCCCCDu},
        {"negative zero", 26, 0x80000000u},
        {"1000 degrees", 25, 0x447A0000u},
        {"smallest denormal", 25, 0x00000001u},
        {"Vne above the form's 240", 6, 250u},
        {"speed 255", 1, 255u},
        {"volts 0", 9, 0u},
        {"volts 6553.5", 28, 65535u},
        {"volts 12.3", 27, 123u},
        {"ICAO zero", 31, 0u},
        {"icao_random 2", 32, 2u},
        {"emitter C5", 33, 21u},
        {"emitter beyond the list", 33, 22u},
        {"map view beyond the list", 35, 7u},
        {"screen code 2 for UID 5", 37, 0x00000200u},
        {"screen codes beyond the list", 39, 0xFF060105u},
        {"brightness beyond the slider", 24, 0xFFFFFFFFu},
    };
    for (const Row& row : rows) {
        EXPECT_TRUE(roundTrips(entryOfIndex(row.index), recordWith(row.index, row.value))) << row.what;
    }
}

TEST(SettingsCatalogue, registrationsRoundTripExactly) {
    struct Row {
        const char* what;
        std::array<std::uint8_t, 12> bytes;
    };
    const Row rows[] = {
        {"none", {}},
        {"D-EABC", {'D', '-', 'E', 'A', 'B', 'C'}},
        {"no known prefix", {'K', '1', '2', '3'}},
        {"Latin-1 beyond ASCII", {'O', 'E', '-', 0xC4, 0xD6}},
        {"twelve characters", {'R', 'D', 'P', 'L', 'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H'}},
        {"bytes after the end", {'N', '1', 0, 'X'}},
        {"erased", {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},
        {"starts with NUL", {0, 'A'}},
    };
    for (const Row& row : rows)
        EXPECT_TRUE(roundTrips(entry("registration"), recordWithRegistration(row.bytes))) << row.what;
}

TEST(SettingsCatalogue, randomRecordsRoundTripEverySetting) {
    std::mt19937 random(15);
    for (int run = 0; run < 500; ++run) {
        ConfigRecord record;
        for (auto& byte : record.bytes) byte = static_cast<std::uint8_t>(random());
        for (unsigned index = 0; index < vk61::kSettingCount; ++index) {
            vk61::config_set_value(record, index,
                                   vk61::within_record_rules(index, vk61::config_get_value(record, index)));
        }
        for (const SettingEntry& setting : vk61::settings_catalogue()) {
            ASSERT_TRUE(roundTrips(setting, record)) << setting.name << " run " << run;
        }
    }
}

// What a person reading or editing a file sees.
TEST(SettingsCatalogue, valuesReadAsTheFormMeansThem) {
    struct Row {
        const char* name;
        unsigned index;
        std::uint32_t value;
        const char* json;  // compact JSON of the value
    };
    const Row rows[] = {
        {"v_ne", 6, 240, "240"},
        {"min_volt_warn", 9, 123, "12.3"},
        {"max_volt_alert", 28, 155, "15.5"},
        {"sky_color_upper", 14, 0xFF87CEEB, "\"#87ceeb\""},
        {"airplane_color", 19, 0x40FFFFFF, "\"#40ffffff\""},
        {"roll_correction", 25, 0xBFC00000 /* -1.5 */, "-1.5"},
        {"ownship_icao", 31, 0xA1B2C3, "\"A1B2C3\""},
        {"ownship_icao", 31, 0x00A1B2, "\"00A1B2\""},
        {"termination_uids", 34, 0x12, "[1,4]"},
        {"default_screens", 36, 0x00000100, "{\"1\":\"AHRS\"}"},
        {"default_screens", 37, 0x00000200, "{\"5\":\"ADSB\"}"},
        {"icao_random", 32, 1, "true"},
        {"emitter_category", 33, 9, "\"B1\""},
        {"map_view", 35, 1, "\"Track Up\""},
        {"display_units", 0, 0x1 | 0x10 | 0x40 | 0x100,
         "{\"airspeed\":\"MPH\",\"altitude\":\"Meters\",\"extra_bits\":\"0x00000000\",\"pressure\":\"Mbar\","
         "\"temperature\":\"Celsius\"}"},
        {"display_units", 0, 0x200 | 0x2 | 0x8 | 0x20 | 0x80,
         "{\"airspeed\":\"Knots\",\"altitude\":\"Feet\",\"extra_bits\":\"0x00000200\",\"pressure\":\"InHg\","
         "\"temperature\":\"Fahrenheit\"}"},
    };
    for (const Row& row : rows) {
        const QJsonValue json = vk61::setting_to_json(entry(row.name), recordWith(row.index, row.value));
        const QByteArray text = QJsonDocument(QJsonObject{{"v", json}}).toJson(QJsonDocument::Compact);
        EXPECT_EQ(text.mid(5, text.size() - 6).toStdString(), row.json) << row.name;
    }
    ConfigRecord record;
    const auto words = vk61::registration_words(vk61::join_registration("D", "-EXYZ"));
    for (unsigned i = 0; i < 3; ++i) vk61::config_set_value(record, 11 + i, words[i]);
    EXPECT_EQ(vk61::setting_to_json(entry("registration"), record).toString(), QString("D-EXYZ"));
}

// Bad values are refused with the setting's name, and nothing is written.
TEST(SettingsCatalogue, badValuesAreRefusedByName) {
    struct Row {
        const char* name;
        const char* json;  // the value as a file would hold it
        const char* says;  // part of the message
    };
    const Row rows[] = {
        {"v_ne", "300", "out of range"},
        {"v_ne", "-1", "out of range"},
        {"v_ne", "\"fast\"", "not a number"},
        {"v_ne", "\"170\"", "\"170\" is not a number"},
        {"v_ne", "null", "null is not a number"},
        {"v_ne", "12.5", "not a whole number"},
        {"min_volt_warn", "12.34", "more than one decimal"},
        {"min_volt_warn", "-1", "out of range"},
        {"min_volt_warn", "7000", "out of range"},
        {"sky_color_lower", "\"#12345\"", "not a colour"},
        {"sky_color_lower", "\"87ceeb\"", "not a colour"},
        {"registration", "\"D-EXYZ123456\"", "longer than 11"},
        {"registration", "\"D-\\u20ac\"", "cannot store"},
        {"registration", "42", "neither text"},
        {"roll_correction", "\"0x7FC00000\"", "not a number (NaN)"},
        {"pitch_correction", "\"0xFF800000\"", "infinite"},
        {"pitch_correction", "1e39", "out of range"},
        {"ownship_icao", "\"FFFFFFFF\"", "not an address of 6"},
        {"termination_uids", "[16]", "out of range"},
        {"roll_correction", "\"level\"", "neither degrees"},
        {"ownship_icao", "\"XYZ\"", "not an address"},
        {"ownship_icao", "\"A1B2C\"", "not an address"},
        {"termination_uids", "[1, 1]", "twice"},
        {"termination_uids", "[32]", "out of range"},
        {"termination_uids", "3", "not a list"},
        {"default_screens", "{\"16\": \"AHRS\"}", "not a UID"},
        {"default_screens", "{\"1\": \"Radar\"}", "not one of"},
        {"default_screens", "{\"1\": 256}", "out of range"},
        {"display_units",
         "{\"airspeed\": \"Furlongs\", \"altitude\": \"Feet\", \"temperature\": \"Celsius\", "
         "\"pressure\": \"InHg\"}",
         "airspeed"},
        {"display_units", "{\"airspeed\": \"MPH\", \"altitude\": \"Feet\", \"temperature\": \"Celsius\"}", "pressure"},
        {"display_units",
         "{\"airspeed\": \"MPH\", \"altitude\": \"Feet\", \"temperature\": \"Celsius\", "
         "\"pressure\": \"InHg\", \"extra_bits\": \"0x1FFFFFFFF\"}",
         "extra_bits"},
        {"emitter_category", "\"D0\"", "not one of"},
        {"map_view", "\"South Up\"", "not one of"},
        {"icao_random", "\"yes\"", "not a number"},
    };
    for (const Row& row : rows) {
        const QJsonValue value = QJsonDocument::fromJson(QByteArray("{\"v\": ") + row.json + "}").object().value("v");
        ASSERT_FALSE(value.isUndefined()) << row.json;
        ConfigRecord record;
        for (auto& byte : record.bytes) byte = 0x5A;
        const ConfigRecord before = record;
        QString error;
        EXPECT_FALSE(vk61::setting_from_json(entry(row.name), value, record, &error, vk61::ValueRange::Record))
            << row.name << " " << row.json;
        EXPECT_TRUE(error.startsWith(QString("Setting \"%1\": ").arg(row.name))) << error.toStdString();
        EXPECT_TRUE(error.contains(row.says)) << error.toStdString();
        EXPECT_EQ(record.bytes, before.bytes) << row.name << " " << row.json;
    }
}

// What a unit can hold but a person may not enter: a file carries it, the
// form's ranges (and `config set`) refuse it.
TEST(SettingsCatalogue, entryRangeIsTheFormsAndNarrowerThanTheRecords) {
    struct Row {
        const char* name;
        const char* json;
    };
    const Row rows[] = {
        {"v_ne", "241"},
        {"min_volt_warn", "4.9"},
        {"max_volt_alert", "65.1"},
        {"backlight_brightness", "22"},
        {"roll_correction", "90.5"},
        {"pitch_correction", "-90.1"},
        {"text_bg_alpha", "255"},
        {"emitter_category", "22"},
        {"map_view", "2"},
        {"icao_random", "2"},
        {"termination_uids", "[0]"},
        {"default_screens", "{\"1\": 6}"},
    };
    for (const Row& row : rows) {
        const QJsonValue value = QJsonDocument::fromJson(QByteArray("{\"v\": ") + row.json + "}").object().value("v");
        ASSERT_FALSE(value.isUndefined()) << row.json;
        ConfigRecord record;
        QString error;
        EXPECT_TRUE(vk61::setting_from_json(entry(row.name), value, record, &error, vk61::ValueRange::Record))
            << row.name << " " << row.json << ": " << error.toStdString();
        const ConfigRecord before = record;
        EXPECT_FALSE(vk61::setting_from_json(entry(row.name), value, record, &error, vk61::ValueRange::Entry))
            << row.name << " " << row.json;
        EXPECT_TRUE(error.contains("out of range")) << error.toStdString();
        EXPECT_EQ(record.bytes, before.bytes) << row.name;
        // The same value, read from a unit, is named the same way by the store check.
        EXPECT_TRUE(
            vk61::setting_range_violation(entry(row.name), before, vk61::ValueRange::Entry).contains("out of range"))
            << row.name;
        EXPECT_TRUE(vk61::setting_range_violation(entry(row.name), before, vk61::ValueRange::Record).isEmpty())
            << row.name;
    }
}

}  // namespace
