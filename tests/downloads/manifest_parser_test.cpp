#include "downloads/manifest_parser.h"

#include <gtest/gtest.h>

namespace vk61 {
namespace {

const char* const kGoodC3 =
    R"({"device_type":"C3","firmware_file":"a.bin","firmware_version":"1.0.0","sha256":"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa"})";

struct FirmwareFailure {
    const char* name;
    QByteArray json;
    const char* message;
    int kept;  // entries left in the list after the failure
};

TEST(FirmwareManifest, failuresReportTheirMessageAndKeepEarlierEntries) {
    const FirmwareFailure rows[] = {
        {"top_level_array", "[]", "Invalid manifest JSON: no error occurred", 0},
        {"only_databases", R"({"database_files":[{"db_type":"airport","database_file":"a.db"}]})",
         "firmware_packages is empty", 0},
        {"packages_not_array", R"({"firmware_packages":{"a":1}})", "firmware_packages is empty", 0},
        {"no_objects", R"({"firmware_packages":[1,"x",[]]})", "No valid firmware packages in manifest", 0},
        {"version_as_number",
         R"({"firmware_packages":[{"device_type":" c3 ","firmware_file":"a.bin","firmware_version":1.2}]})",
         "Invalid firmware_version for device_type C3", 0},
        {"version_checked_before_names", R"({"firmware_packages":[{"firmware_version":"1.2"}]})",
         "Invalid firmware_version for device_type ", 0},
        {"second_entry_bad_version",
         QByteArray(R"({"firmware_packages":[)") + kGoodC3 +
             R"(,{"device_type":"D5","firmware_file":"b.bin","firmware_version":"1.2.x"},)" + kGoodC3 + "]}",
         "Invalid firmware_version for device_type D5", 1},
        {"second_entry_without_file",
         QByteArray(R"({"firmware_packages":[)") + kGoodC3 + R"(,{"device_type":"D5","firmware_version":"1.2.3"}]})",
         "Manifest entry missing device_type or firmware_file", 1},
        {"second_entry_without_digest",
         QByteArray(R"({"firmware_packages":[)") + kGoodC3 +
             R"(,{"device_type":"D5","firmware_file":"b.bin","firmware_version":"1.2.3"}]})",
         "Invalid sha256 for device_type D5", 1},
        {"empty_digest",
         R"({"firmware_packages":[{"device_type":"D5","firmware_file":"b.bin","firmware_version":"1.2.3","sha256":""}]})",
         "Invalid sha256 for device_type D5", 0},
        {"short_digest",
         R"({"firmware_packages":[{"device_type":"D5","firmware_file":"b.bin","firmware_version":"1.2.3","sha256":"abc"}]})",
         "Invalid sha256 for device_type D5", 0},
        {"syntax_error", "{\"firmware_packages\": [", "Invalid manifest JSON: unterminated array", 0},
        {"blank_device_type",
         R"({"firmware_packages":[{"device_type":"  ","firmware_file":"a","firmware_version":"1.2.3"}]})",
         "Manifest entry missing device_type or firmware_file", 0},
    };
    for (const FirmwareFailure& row : rows) {
        QList<FirmwarePackage> entries(3);  // stale content must go
        const DownloadResult parsed = parse_firmware_manifest(row.json, &entries);
        EXPECT_FALSE(parsed.ok()) << row.name;
        EXPECT_EQ(describe(parsed), QString::fromLatin1(row.message)) << row.name;
        EXPECT_EQ(entries.size(), row.kept) << row.name;
    }
    EXPECT_EQ(describe(parse_firmware_manifest("{}", nullptr)), "entries_out is null");
}

TEST(FirmwareManifest, entryIsNormalisedAndNonObjectsSkipped) {
    const QByteArray json = R"({"firmware_packages":[7,
        {"device_type":" 3c ","display_name":"Halvard","firmware_file":"sub/dir/app.bin",
         "download_url":"https://x/app.bin","sha256":" ABABABABABABABABABABABABABABABABABABABABABABABABABABABABABABABAB ","minimum_bootloader_version":"2.0",
         "hardware_revisions":["2",3,"01"],"firmware_version":" 1.20.255 ","extra":true}]})";
    QList<FirmwarePackage> entries;
    ASSERT_TRUE(parse_firmware_manifest(json, &entries).ok());
    ASSERT_EQ(entries.size(), 1);
    const FirmwarePackage& p = entries[0];
    EXPECT_EQ(p.device_type, "3C");
    EXPECT_EQ(p.display_name, "Halvard");
    EXPECT_EQ(p.firmware_file, "sub/dir/app.bin");
    EXPECT_EQ(p.download_url, "https://x/app.bin");
    EXPECT_EQ(
        p.sha256,
        " ABABABABABABABABABABABABABABABABABABABABABABABABABABABABABABABAB ");  // kept as written; compared trimmed and lower-cased
    EXPECT_EQ(p.minimum_bootloader_version, "2.0");
    EXPECT_EQ(p.hardware_revisions, QStringList({"2", "", "01"}));  // a number becomes empty text
    EXPECT_EQ(p.firmware_version.major, 1);
    EXPECT_EQ(p.firmware_version.minor, 20);
    EXPECT_EQ(p.firmware_version.patch, 255);
}

TEST(DatabaseManifest, badEntriesAreDroppedNotFatal) {
    const QByteArray json = R"({"firmware_packages":[],"database_files":["x",
        {"db_type":" Airport ","database_file":"AIRPORTS.DB","format_version":3,"cycle_effective_date":"2025-01-31","sha256":"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa"},
        {"db_type":"airport","database_file":"airports.db.zip"},
        {"db_type":"airport","database_file":""},
        {"database_file":"no_type.db"},
        {"db_type":"airport","database_file":"b.db","sha256":"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa","cycle_effective_date":"2025-01-31","format_version":3.5},
        {"db_type":"airport","database_file":"c.db","sha256":"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa","cycle_effective_date":"2025-01-31","format_version":"3"},
        {"db_type":"airport","database_file":"d.db","sha256":"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa","cycle_effective_date":"2025-01-31","format_version":2147483648},
        {"db_type":"airport","database_file":"e.db","sha256":"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa","cycle_effective_date":"2025-01-31","format_version":-2147483648}]})";
    QList<DatabasePackage> entries;
    ASSERT_TRUE(parse_database_manifest(json, &entries).ok());
    QStringList files;
    QList<qint32> versions;
    for (const DatabasePackage& p : entries) {
        files << p.database_file;
        versions << p.format_version;
    }
    EXPECT_EQ(files, QStringList({"AIRPORTS.DB", "b.db", "c.db", "d.db", "e.db"}));
    EXPECT_EQ(versions, QList<qint32>({3, 0, 0, 0, -2147483647 - 1}));
    EXPECT_EQ(entries[0].db_type, "airport");
    EXPECT_EQ(entries[0].cycle_effective_date, "2025-01-31");
}

TEST(DatabaseManifest, failures) {
    const std::pair<QByteArray, const char*> rows[] = {
        {R"({"firmware_packages":[{"device_type":"C3"}]})", "database_files is empty"},
        {R"({"database_files":[{"db_type":"airport","database_file":"a.zip"},5]})",
         "No valid database packages in manifest"},
        {R"("text")", "Invalid manifest JSON: illegal value"},
        {R"({"database_files":[{"db_type":"airport","database_file":"a.db","cycle_effective_date":"2025-01-31"}]})",
         "Invalid sha256 for database_file a.db"},
        {R"({"database_files":[{"db_type":"airport","database_file":"a.db","sha256":"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa","cycle_effective_date":"9999-99-99"}]})",
         "Invalid cycle_effective_date for database_file a.db"},
        {R"({"database_files":[{"db_type":"airport","database_file":"a.db","sha256":"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa"}]})",
         "Invalid cycle_effective_date for database_file a.db"},
    };
    for (const auto& [json, message] : rows) {
        QList<DatabasePackage> entries(2);
        const DownloadResult parsed = parse_database_manifest(json, &entries);
        EXPECT_FALSE(parsed.ok()) << json.constData();
        EXPECT_TRUE(entries.isEmpty());
        EXPECT_EQ(describe(parsed), QString::fromLatin1(message));
    }
}

TEST(VersionTriplet, acceptsOnlyThreeByteSizedDecimalParts) {
    const std::pair<const char*, bool> rows[] =
        {
            {"1.2.3", true},           {"  1.2.3\t", true}, {"0.0.0", true},
            {"255.255.255", true},     {"1.2", false},      {"1.2.3.4", false},
            {"1..3", false},           {"1.2.256", false},  {"1.2.-1", false},
            {"v1.2.3", false},         {"1.2.3a", false},   {"", false},
            {"4294967297.0.0", false},  // wraps to 1 if the 32-bit overflow is missed
        };
    for (const auto& [text, valid] : rows) {
        quint8 major = 9, minor = 9, patch = 9;
        EXPECT_EQ(parse_version_triplet(QString::fromLatin1(text), &major, &minor, &patch), valid) << text;
        if (!valid) {  // a failed parse leaves every output as it was
            EXPECT_EQ(std::make_tuple(major, minor, patch), std::make_tuple(9, 9, 9)) << text;
        }
    }
    quint8 major = 9, minor = 9;
    EXPECT_FALSE(parse_version_triplet("1.2.3", &major, &minor, nullptr));
    EXPECT_EQ(major, 9);
}

}  // namespace
}  // namespace vk61
