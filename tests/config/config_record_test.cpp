// The record's index table, setting values and CRC, checked against the
// bytes of the image.
#include "config/config_record.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using vk61::config_crc;
using vk61::config_get_value;
using vk61::config_set_value;
using vk61::ConfigRecord;

std::vector<std::uint8_t> bytes_at(const ConfigRecord& r, std::size_t offset, std::size_t n) {
    return {r.bytes.begin() + static_cast<std::ptrdiff_t>(offset),
            r.bytes.begin() + static_cast<std::ptrdiff_t>(offset + n)};
}

TEST(ConfigCrc, mpeg2OfTwoWordsMatchesReferenceVector) {
    ConfigRecord r;
    r.set_num_elements(2);
    r.set_magic(0x31323334);
    r.set_memory_version(0x35363738);
    EXPECT_EQ(config_crc(r), 0x49E3C2FBu);  // CRC-32/MPEG-2 of "12345678"
}

TEST(ConfigCrc, zeroWordsGiveInitialValue) {
    ConfigRecord r;
    r.set_magic(0x12345678);
    EXPECT_EQ(config_crc(r), 0xFFFFFFFFu);
}

TEST(ConfigCrc, blankChecksumGivesZeroWhateverTheWords) {
    ConfigRecord r;
    r.bytes.fill(0xAB);
    r.set_num_elements(35);
    r.set_checksum(0xFFFFFFFF);
    EXPECT_EQ(config_crc(r), 0u);
}

// Byte-wise CRC-32/MPEG-2 over the image from offset 4, each word's bytes
// taken most significant first: an independent statement of the checksum.
std::uint32_t reference_crc(const ConfigRecord& r, std::size_t words) {
    std::uint32_t crc = 0xFFFFFFFFu;
    for (std::size_t w = 0; w < words; ++w) {
        for (int b = 3; b >= 0; --b) {
            crc ^= static_cast<std::uint32_t>(r.bytes[4 + 4 * w + static_cast<std::size_t>(b)]) << 24;
            for (int bit = 0; bit < 8; ++bit) crc = (crc & 0x80000000u) ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
        }
    }
    return crc;
}

TEST(ConfigCrc, matchesByteWiseReferenceForEveryCount) {
    ConfigRecord r;
    for (std::size_t i = 0; i < r.bytes.size(); ++i) r.bytes[i] = static_cast<std::uint8_t>(i * 37 + 11);
    r.set_checksum(0);
    for (std::uint32_t n = 0; n <= 35; ++n) {
        r.set_num_elements(n);
        EXPECT_EQ(config_crc(r), reference_crc(r, n)) << n;
    }
}

// A device may report any count; the CRC never runs past the 35 words the
// record holds (under ASan a read past the image would abort here).
TEST(ConfigCrc, countAboveRecordIsLimitedToItsWords) {
    ConfigRecord r;
    for (std::size_t i = 0; i < r.bytes.size(); ++i) r.bytes[i] = static_cast<std::uint8_t>(i * 7);
    r.set_checksum(0);
    for (std::uint32_t n : {36u, 37u, 1000u, 0xFFFFFFFEu, 0xFFFFFFFFu}) {
        r.set_num_elements(n);
        EXPECT_EQ(config_crc(r), reference_crc(r, 35)) << n;
    }
}

TEST(ConfigCrc, coversEveryWordButTheChecksum) {
    ConfigRecord r;
    r.set_num_elements(35);
    const std::uint32_t base = config_crc(r);
    for (std::size_t offset = 4; offset < ConfigRecord::kSize; ++offset) {
        if (offset >= 12 && offset < 16) continue;  // num_elements: changing it changes the count
        ConfigRecord changed = r;
        changed.bytes[offset] ^= 0x01;
        EXPECT_NE(config_crc(changed), base) << "offset " << offset;
    }
    ConfigRecord checksum_changed = r;
    checksum_changed.set_checksum(0x12345678);
    EXPECT_EQ(config_crc(checksum_changed), base);
}

// Every setting index: where its value lands and how wide the field is.
struct FieldRow {
    unsigned index;
    std::size_t offset;
    std::size_t width;
};

const FieldRow kFields[] = {
    {0, 16, 4},   {1, 20, 1},   {2, 21, 1},   {3, 22, 1},   {4, 23, 1},   {5, 24, 1},   {6, 25, 1},   {7, 26, 1},
    {8, 27, 1},   {9, 28, 2},   {10, 30, 2},  {14, 44, 4},  {15, 48, 4},  {16, 52, 4},  {17, 56, 4},  {18, 60, 4},
    {19, 64, 4},  {20, 68, 4},  {21, 72, 4},  {22, 76, 4},  {23, 80, 4},  {24, 84, 4},  {25, 88, 4},  {26, 92, 4},
    {27, 96, 2},  {28, 98, 2},  {29, 100, 4}, {30, 104, 4}, {31, 108, 4}, {32, 112, 4}, {33, 116, 4}, {34, 120, 4},
    {35, 124, 4}, {36, 128, 4}, {37, 132, 4}, {38, 136, 4}, {39, 140, 4}, {253, 4, 4},  {254, 8, 4},  {255, 12, 4},
};

TEST(ConfigValue, everyIndexStoresLittleEndianInItsFieldOnly) {
    for (const FieldRow& row : kFields) {
        ConfigRecord r;
        ASSERT_TRUE(config_set_value(r, row.index, 0xA1B2C3D4u)) << row.index;
        const std::uint32_t mask = row.width == 4 ? 0xFFFFFFFFu : (1u << (8 * row.width)) - 1;
        EXPECT_EQ(config_get_value(r, row.index), 0xA1B2C3D4u & mask) << row.index;
        for (std::size_t i = 0; i < row.width; ++i) {
            EXPECT_EQ(r.bytes[row.offset + i], static_cast<std::uint8_t>(0xA1B2C3D4u >> (8 * i))) << row.index;
        }
        for (std::size_t offset = 4; offset < ConfigRecord::kSize; ++offset) {
            if (offset >= row.offset && offset < row.offset + row.width) continue;
            EXPECT_EQ(r.bytes[offset], 0) << "index " << row.index << " touched offset " << offset;
        }
    }
}

TEST(ConfigValue, narrowFieldsKeepLowBits) {
    ConfigRecord r;
    ASSERT_TRUE(config_set_value(r, 1, 300));
    EXPECT_EQ(r.bytes[20], 44);
    EXPECT_EQ(config_get_value(r, 1), 44u);
    ASSERT_TRUE(config_set_value(r, 9, 0x12345));
    EXPECT_EQ(config_get_value(r, 9), 0x2345u);
    EXPECT_EQ(r.bytes[30], 0) << "max_volt_warn untouched";
}

TEST(ConfigValue, registrationWordsAreBigEndian) {
    ConfigRecord r;
    r.bytes[32] = 0x41;
    r.bytes[33] = 0x42;
    r.bytes[34] = 0x43;
    r.bytes[35] = 0xC4;
    EXPECT_EQ(config_get_value(r, 11), 0x414243C4u);

    ConfigRecord w;
    ASSERT_TRUE(config_set_value(w, 11, 0x414243C4u));
    EXPECT_EQ(bytes_at(w, 32, 4), (std::vector<std::uint8_t>{0x41, 0x42, 0x43, 0xC4}));

    ConfigRecord n;
    ASSERT_TRUE(config_set_value(n, 11, 0x4E313233u));
    ASSERT_TRUE(config_set_value(n, 12, 0x34350000u));
    ASSERT_TRUE(config_set_value(n, 13, 0));
    EXPECT_EQ(bytes_at(n, 32, 12), (std::vector<std::uint8_t>{'N', '1', '2', '3', '4', '5', 0, 0, 0, 0, 0, 0}));
}

TEST(ConfigValue, defaultScreenWordsMapToUidBytes) {
    ConfigRecord r;
    ASSERT_TRUE(config_set_value(r, 37, 0x00000200u));
    EXPECT_EQ(r.default_screen(5), 2);
    EXPECT_EQ(r.bytes[133], 2);
    for (std::uint8_t uid : {4, 6, 7}) EXPECT_EQ(r.default_screen(uid), 0) << int(uid);

    r.set_default_screen(14, 3);
    EXPECT_EQ(config_get_value(r, 39), 0x00030000u);
    r.set_default_screen(16, 9);  // no such UID: ignored
    EXPECT_EQ(r.default_screen(16), 0);
}

TEST(ConfigValue, unknownIndicesAreRejectedAndChangeNothing) {
    ConfigRecord r;
    r.set_num_elements(35);
    ASSERT_TRUE(config_set_value(r, 1, 7));
    const ConfigRecord before = r;
    for (unsigned index : {40u, 100u, 251u, 256u, 0xFFFFFFFFu}) {
        EXPECT_FALSE(config_set_value(r, index, 1)) << index;
        EXPECT_EQ(config_get_value(r, index), 0xFFFFFFFFu) << index;
    }
    EXPECT_EQ(r.bytes, before.bytes);
}

TEST(ConfigValue, everyChangeRecomputesTheChecksum) {
    ConfigRecord r;
    ASSERT_TRUE(config_set_value(r, 255, 35));
    EXPECT_EQ(r.checksum(), config_crc(r));
    const std::uint32_t before = r.checksum();
    ASSERT_TRUE(config_set_value(r, 6, 165));
    EXPECT_NE(r.checksum(), before);
    EXPECT_EQ(r.checksum(), config_crc(r));

    // Writing 0xFFFFFFFF as the checksum marks the record blank, whose CRC is 0.
    ASSERT_TRUE(config_set_value(r, 252, 0xFFFFFFFFu));
    EXPECT_EQ(r.checksum(), 0u);
}

TEST(ConfigRecordHeader, accessorsUseTheFirstFourWords) {
    ConfigRecord r;
    r.set_checksum(0x01020304);
    r.set_magic(ConfigRecord::kMagic);
    r.set_memory_version(3);
    r.set_num_elements(35);
    EXPECT_EQ(bytes_at(r, 0, 16), (std::vector<std::uint8_t>{4, 3, 2, 1, 'Z', 'E', 'Q', '_', 3, 0, 0, 0, 35, 0, 0, 0}));
    EXPECT_EQ(config_get_value(r, 252), 0x01020304u);
    EXPECT_EQ(config_get_value(r, 253), 0x5F51455Au);
}

}  // namespace
