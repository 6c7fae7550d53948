// Joining and splitting the registration, and the prefix table's order.
#include "config/registration.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>

namespace {

using vk61::join_registration;
using vk61::RegistrationBytes;
using vk61::split_registration;

RegistrationBytes bytes_of(const std::string& s) {
    RegistrationBytes b{};
    for (std::size_t i = 0; i < s.size() && i < b.size(); ++i) b[i] = static_cast<std::uint8_t>(s[i]);
    return b;
}

std::string text_of(const RegistrationBytes& b) { return std::string(b.begin(), b.end()); }

TEST(RegistrationPrefixes, tableHasItsEntriesInOrder) {
    const auto& table = vk61::REGISTRATION_PREFIXES;
    ASSERT_EQ(table.size(), 193u);
    EXPECT_STREQ(table.front(), "N");
    EXPECT_STREQ(table[1], "C");
    EXPECT_STREQ(table[49], "RDPL");
    EXPECT_STREQ(table[64], "CC");
    EXPECT_STREQ(table.back(), "9Z");

    std::map<std::string, int> count;
    for (const char* p : table) {
        const std::string prefix(p);
        EXPECT_GE(prefix.size(), 1u);
        EXPECT_LE(prefix.size(), 4u);
        ++count[prefix];
    }
    EXPECT_EQ(count.size(), 182u);
    std::set<std::string> twice;
    for (const auto& [prefix, n] : count) {
        if (n > 1) twice.insert(prefix);
        EXPECT_LE(n, 2) << prefix;
    }
    EXPECT_EQ(twice, (std::set<std::string>{"5H", "5X", "5Y", "7T", "9A", "9H", "9J", "9K", "9M", "9Q", "9V"}));
}

struct JoinRow {
    const char* name;
    std::string prefix;
    std::string number;
    std::string stored;  // the twelve bytes
};

TEST(RegistrationJoin, table) {
    const JoinRow rows[] = {
        {"plain", "N", "12345", std::string("N12345\0\0\0\0\0\0", 12)},
        {"prefixD", "D", "EABC", std::string("DEABC\0\0\0\0\0\0\0", 12)},
        {"emptyNumberStoresNothing", "A9C", "", std::string(12, '\0')},
        {"cutTo11", "RDPL", "ABCDEFGHIJ", std::string("RDPLABCDEFG\0", 12)},
        {"stopsAtNul", "N",
         std::string("12\0"
                     "34",
                     5),
         std::string("N12\0\0\0\0\0\0\0\0\0", 12)},
        {"latin1Kept", "D",
         "\xC4"
         "B",
         std::string("D\xC4"
                     "B\0\0\0\0\0\0\0\0\0",
                     12)},
    };
    for (const JoinRow& row : rows) {
        const RegistrationBytes b = join_registration(row.prefix, row.number);
        EXPECT_EQ(text_of(b), row.stored) << row.name;
        EXPECT_EQ(b[11], 0) << row.name;
    }
}

TEST(RegistrationWords, packFirstByteOnTop) {
    const auto words = vk61::registration_words(join_registration("N", "12345"));
    EXPECT_EQ(words[0], 0x4E313233u);
    EXPECT_EQ(words[1], 0x34350000u);
    EXPECT_EQ(words[2], 0u);
    RegistrationBytes high{0x41, 0x42, 0x43, 0xC4};
    EXPECT_EQ(vk61::registration_words(high)[0], 0x414243C4u);
}

struct SplitRow {
    const char* name;
    std::string stored;
    bool blank;
    std::string found;
    std::string prefix;
    std::string number;
};

TEST(RegistrationSplit, table) {
    const SplitRow rows[] = {
        {"cFirstInTable", "CC123", false, "C", "C", "C123"},
        {"dashKept", "D-EABC", false, "D", "D", "-EABC"},
        {"fourLetterPrefix", "RDPLABCDEFG", false, "RDPL", "RDPL", "ABCDEFG"},
        {"unknownPrefixUnderN", "K123", false, "", "N", "K123"},
        {"unknownPrefixCutTo10", "KABCDEFGHIJ", false, "", "N", "KABCDEFGHI"},
        {"caseSensitive", "n123", false, "", "N", "n123"},
        {"firstByteNul", std::string("\0N123", 5), true, "", "N", ""},
        {"allFF", std::string(12, '\xFF'), true, "", "N", ""},
        {"ffEndsText",
         "N12\xFF"
         "45",
         false, "N", "N", "12"},
        {"byte11NeverRead", std::string("NABCDEFGHIJ") + "Z", false, "N", "N", "ABCDEFGHIJ"},
    };
    for (const SplitRow& row : rows) {
        const auto split = split_registration(bytes_of(row.stored));
        EXPECT_EQ(split.blank, row.blank) << row.name;
        EXPECT_EQ(split.found, row.found) << row.name;
        EXPECT_EQ(split.prefix, row.prefix) << row.name;
        EXPECT_EQ(split.number, row.number) << row.name;
    }
}

TEST(RegistrationSplit, knownPrefixesRoundTrip) {
    for (const std::string text : {"N123AB", "CC123", "D-EABC", "G-ABCD", "9A-BCD", "VH-XYZ", "RDPL12345"}) {
        const auto split = split_registration(bytes_of(text));
        EXPECT_EQ(join_registration(split.prefix, split.number), bytes_of(text)) << text;
    }
}

}  // namespace
