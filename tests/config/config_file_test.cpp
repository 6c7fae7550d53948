// Configuration files: what is written comes back exactly, and a file with
// anything wrong in it is refused as a whole, with a message that says where.
#include "config/config_file.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <random>

#include "config/record_rules.h"
#include "config/registration.h"

namespace {

using vk61::ConfigFile;
using vk61::ConfigRecord;

ConfigRecord randomRecord(unsigned seed) {
    std::mt19937 random(seed);
    ConfigRecord record;
    for (auto& byte : record.bytes) byte = static_cast<std::uint8_t>(random());
    for (unsigned index = 0; index < vk61::kSettingCount; ++index) {
        vk61::config_set_value(record, index, vk61::within_record_rules(index, vk61::config_get_value(record, index)));
    }
    return record;
}

ConfigFile sampleFile(const ConfigRecord& record) {
    ConfigFile file;
    file.created = QDateTime(QDate(2024, 5, 17), QTime(9, 30, 12, 345), Qt::UTC);
    file.tool = "vk61-efis-config 0.1.0";
    file.reason = "export";
    file.efis = {"0xC3010000", "1.4.2", 7u};
    file.settings = record;
    return file;
}

// A written file with one member of "settings" replaced by raw JSON text.
QByteArray withSetting(const QByteArray& written, const char* name, const char* json) {
    QJsonObject root = QJsonDocument::fromJson(written).object();
    QJsonObject settings = root["settings"].toObject();
    settings[name] = QJsonDocument::fromJson(QByteArray("{\"v\":") + json + "}").object()["v"];
    root["settings"] = settings;
    return QJsonDocument(root).toJson();
}

TEST(ConfigFile, writtenFileReadsBackWithEverySettingAndItsOrigin) {
    for (unsigned seed = 1; seed <= 50; ++seed) {
        const ConfigRecord record = randomRecord(seed);
        QString error;
        const auto read = vk61::read_config_file(vk61::write_config_file(sampleFile(record)), &error);
        ASSERT_TRUE(read) << error.toStdString();
        EXPECT_TRUE(read->present.all());
        for (unsigned index = 0; index < vk61::kSettingCount; ++index) {
            ASSERT_EQ(vk61::config_get_value(read->settings, index), vk61::config_get_value(record, index))
                << "index " << index << " seed " << seed;
        }
        EXPECT_TRUE(vk61::changed_settings(*read, record).empty());
        EXPECT_EQ(read->created, sampleFile(record).created);
        EXPECT_EQ(read->tool, QString("vk61-efis-config 0.1.0"));
        EXPECT_EQ(read->reason, QString("export"));
        EXPECT_EQ(read->efis.serial, QString("0xC3010000"));
        EXPECT_EQ(read->efis.firmware, QString("1.4.2"));
        EXPECT_EQ(read->efis.memory_version, std::optional<std::uint32_t>(7u));
    }
}

TEST(ConfigFile, isPrettyPrintedUtf8WithTheRegistrationAsText) {
    ConfigRecord record;
    const auto words = vk61::registration_words(vk61::join_registration("OE",
                                                                        "-\xC4"
                                                                        "BC"));
    for (unsigned i = 0; i < 3; ++i) vk61::config_set_value(record, 11 + i, words[i]);
    const QByteArray text = vk61::write_config_file(sampleFile(record));
    EXPECT_TRUE(text.contains("\n    \"settings\": {\n")) << text.toStdString();
    // Ä is Latin-1 0xC4 in the record and UTF-8 C3 84 in the file.
    EXPECT_TRUE(
        text.contains("\"registration\": \"OE-\xC3\x84"
                      "BC\""))
        << text.toStdString();
    EXPECT_TRUE(text.contains("\"format\": \"vk61-efis-configuration\""));
}

TEST(ConfigFile, brokenFilesAreRefusedWithWhatIsWrong) {
    const QByteArray good = vk61::write_config_file(sampleFile(randomRecord(3)));
    QByteArray truncated = good.left(good.size() / 2);
    QJsonObject other = QJsonDocument::fromJson(good).object();
    other["format"] = "something-else";
    QJsonObject newer = QJsonDocument::fromJson(good).object();
    newer["format_version"] = 2;
    QJsonObject textVersion = QJsonDocument::fromJson(good).object();
    textVersion["format_version"] = "1";
    QJsonObject bare = QJsonDocument::fromJson(good).object();
    bare.remove("settings");
    QJsonObject badOrigin = QJsonDocument::fromJson(good).object();
    badOrigin["efis"] = QJsonObject{{"memory_version", "seven"}};

    struct Row {
        const char* what;
        QByteArray bytes;
        const char* says;
    };
    const Row rows[] = {
        {"truncated", truncated, "Not readable as JSON"},
        {"not an object", "[1, 2]", "Not an EFIS configuration file"},
        {"another format", QJsonDocument(other).toJson(), "Not an EFIS configuration file"},
        {"newer format", QJsonDocument(newer).toJson(), "Format version 2"},
        {"version as text", QJsonDocument(textVersion).toJson(),
         "\"format_version\" is the text \"1\"; it must be the number 1"},
        {"no settings", QJsonDocument(bare).toJson(), "no \"settings\""},
        {"bad memory version", QJsonDocument(badOrigin).toJson(), "memory_version"},
        {"unknown name", withSetting(good, "v_never", "100"), "Unknown setting \"v_never\""},
        {"value out of range", withSetting(good, "v_ne", "300"), "Setting \"v_ne\": 300 is out of range"},
        {"malformed colour", withSetting(good, "sky_color_upper", "\"blue\""), "Setting \"sky_color_upper\""},
        {"malformed volts", withSetting(good, "max_volt_alert", "15.55"), "Setting \"max_volt_alert\""},
    };
    for (const Row& row : rows) {
        QString error;
        EXPECT_FALSE(vk61::read_config_file(row.bytes, &error)) << row.what;
        EXPECT_TRUE(error.contains(row.says)) << row.what << ": " << error.toStdString();
    }
}

TEST(ConfigFile, changedSettingsAreThoseTheFileHoldsWithAnotherValue) {
    const ConfigRecord efis = randomRecord(9);
    ConfigRecord edited = efis;
    vk61::config_set_value(edited, 6, (vk61::config_get_value(efis, 6) + 1) & 0xFF);     // v_ne
    vk61::config_set_value(edited, 14, vk61::config_get_value(efis, 14) ^ 0x00010203u);  // sky colour
    vk61::config_set_value(edited, 38, vk61::config_get_value(efis, 38) ^ 0x00000100u);  // a default screen
    const auto changed = vk61::changed_settings(sampleFile(edited), efis);
    // sampleFile marks nothing present: a file read from text does.
    EXPECT_TRUE(changed.empty());

    QString error;
    const auto read = vk61::read_config_file(vk61::write_config_file(sampleFile(edited)), &error);
    ASSERT_TRUE(read) << error.toStdString();
    std::vector<std::string_view> names;
    for (const vk61::SettingEntry* entry : vk61::changed_settings(*read, efis)) names.push_back(entry->name);
    EXPECT_EQ(names, (std::vector<std::string_view>{"v_ne", "sky_color_upper", "default_screens"}));
}

TEST(ConfigFile, settingsLeftOutAreNotPartOfTheFile) {
    const QByteArray full = vk61::write_config_file(sampleFile(randomRecord(4)));
    QJsonObject root = QJsonDocument::fromJson(full).object();
    root["settings"] = QJsonObject{{"v_ne", 200}, {"registration", "D-EXYZ"}};
    QString error;
    const auto read = vk61::read_config_file(QJsonDocument(root).toJson(), &error);
    ASSERT_TRUE(read) << error.toStdString();
    EXPECT_EQ(read->present.count(), 4u);  // index 6 and 11-13
    EXPECT_TRUE(read->present.test(6));
    EXPECT_TRUE(read->present.test(13));
    ConfigRecord efis;
    std::vector<std::string_view> names;
    for (const vk61::SettingEntry* entry : vk61::changed_settings(*read, efis)) names.push_back(entry->name);
    EXPECT_EQ(names, (std::vector<std::string_view>{"v_ne", "registration"}));
}

}  // namespace
