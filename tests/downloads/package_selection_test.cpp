#include "downloads/package_selection.h"

#include <gtest/gtest.h>

namespace vk61 {
namespace {

FirmwarePackage firmware(const char* type, QStringList revisions = {}, const char* file = "a.bin") {
    FirmwarePackage p;
    p.device_type = QString::fromLatin1(type);
    p.hardware_revisions = std::move(revisions);
    p.firmware_file = QString::fromLatin1(file);
    return p;
}

DatabasePackage database(const char* type, const char* date, const char* file) {
    DatabasePackage p;
    p.db_type = QString::fromLatin1(type);
    p.cycle_effective_date = QString::fromLatin1(date);
    p.database_file = QString::fromLatin1(file);
    return p;
}

constexpr quint32 device_id(quint8 type, quint8 revision) {
    return (quint32(type) << 24) | (quint32(revision) << 16) | 0x1234u;
}

// Index of the chosen package in the list, or -1; also proves the result
// points into the caller's list.
template <typename T>
int index_of(const QList<T>& list, const T* chosen) {
    for (qsizetype i = 0; i < list.size(); ++i) {
        if (&list[i] == chosen) return int(i);
    }
    return chosen ? -2 : -1;
}

TEST(FirmwareSelection, deviceTypeIsMatchedAsTwoUpperCaseHexDigits) {
    const QList<FirmwarePackage> packages = {firmware("0X3C"), firmware("3C0"), firmware("5"),
                                             firmware("05"),   firmware("0A"),  firmware("3C")};
    EXPECT_EQ(index_of(packages, find_firmware_for_device(packages, device_id(0x3C, 1))), 5);
    EXPECT_EQ(index_of(packages, find_firmware_for_device(packages, device_id(0x05, 1))), 3);
    EXPECT_EQ(index_of(packages, find_firmware_for_device(packages, device_id(0x0A, 1))), 4);
    EXPECT_EQ(index_of(packages, find_firmware_for_device(packages, device_id(0xD5, 1))), -1);
}

TEST(FirmwareSelection, revisionListDecidesWithFirstOfTypeAsFallback) {
    const QList<FirmwarePackage> both = {firmware("D5"), firmware("C3", {"2", "3"}), firmware("C3")};
    EXPECT_EQ(index_of(both, find_firmware_for_device(both, device_id(0xC3, 1))), 2);
    EXPECT_EQ(index_of(both, find_firmware_for_device(both, device_id(0xC3, 2))), 1);

    const QList<FirmwarePackage> only_listed = {firmware("C3", {"2", "3"}), firmware("C3", {"7"})};
    EXPECT_EQ(index_of(only_listed, find_firmware_for_device(only_listed, device_id(0xC3, 1))), 0);
    EXPECT_EQ(index_of(only_listed, find_firmware_for_device(only_listed, device_id(0xC3, 7))), 1);

    // "01" is not revision 1, and an empty text (a number in the manifest) matches nothing.
    const QList<FirmwarePackage> odd = {firmware("C3", {"01", ""}), firmware("C3", {"1"})};
    EXPECT_EQ(index_of(odd, find_firmware_for_device(odd, device_id(0xC3, 1))), 1);
    EXPECT_EQ(index_of(odd, find_firmware_for_device(odd, device_id(0xC3, 0))), 0);

    // Revision 200 is written "200": three digits, decimal.
    const QList<FirmwarePackage> high = {firmware("C3", {"C8"}), firmware("C3", {"200"})};
    EXPECT_EQ(index_of(high, find_firmware_for_device(high, device_id(0xC3, 200))), 1);
}

TEST(FirmwareSelection, olderComparesTripletsAndIgnoresReleaseCandidate) {
    struct Row {
        quint32 unit_word;
        quint8 major, minor, patch;
        bool older;
    };
    const Row rows[] = {
        {0x02040103, 2, 4, 1, false},  // 2.4.1 rc3 against 2.4.1
        {0x0203FF00, 2, 4, 0, true},  {0x03000000, 2, 9, 9, false}, {0x01040200, 1, 5, 0, true},
        {0x010500FF, 1, 4, 9, false}, {0x00000100, 0, 1, 0, true},  {0x01020300, 1, 2, 4, true},
    };
    for (const Row& row : rows) {
        FirmwarePackage p;
        p.firmware_version = {row.major, row.minor, row.patch};
        EXPECT_EQ(is_firmware_older(row.unit_word, p), row.older) << std::hex << row.unit_word;
    }
}

TEST(DatabaseSelection, newestDateWinsAndEarliestOfEqualDates) {
    const QList<DatabasePackage> packages = {
        database("terrain", "2099-01-01", "t.db"),     database("airport", "", "empty.db"),
        database("airport", "2025-01-31", "jan.db"),   database("airport", "2025-02-01", "feb_a.db"),
        database("airport", "2025-02-01", "feb_b.db"), database("airport", "9999-99-99", "no_date.db"),
        database("airport", "2025-2-10", "not_iso.db")};
    // Dates, not texts: neither a date that cannot be nor an unpadded one wins.
    EXPECT_EQ(index_of(packages, find_latest_database(packages, "  AIRPORT ")), 3);
    EXPECT_EQ(index_of(packages, find_latest_database(packages, "obstacles")), -1);
    const QList<DatabasePackage> undated = {database("airport", "", "a.db"), database("airport", "", "b.db")};
    EXPECT_EQ(index_of(undated, find_latest_database(undated, "airport")), 0);
}

TEST(FirmwareSelection, byFileNameComparesLastComponentsExactly) {
    const QList<FirmwarePackage> packages = {firmware("C3", {}, "APP.bin"), firmware("C3", {}, "sub/dir/app.bin"),
                                             firmware("D5", {}, "app.bin"), firmware("FF", {}, "..")};
    EXPECT_EQ(index_of(packages, find_firmware_by_file_name(packages, "/home/u/Downloads/app.bin")), 1);
    EXPECT_EQ(index_of(packages, find_firmware_by_file_name(packages, "app.BIN")), -1);
    EXPECT_EQ(index_of(packages, find_firmware_by_file_name(packages, "/home/u/..")), -1);
}

}  // namespace
}  // namespace vk61
