// The aircraft registration as the record holds it (twelve Latin-1 bytes,
// NUL-padded, at most 11 characters) and as the form shows it (a nationality
// prefix from a fixed table plus the rest typed by the user).
//
// Strings here are Latin-1 byte strings; the window converts to and from its
// own strings (a character outside Latin-1 becomes '?').
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "config_record.h"

namespace vk61 {

inline constexpr std::size_t kRegistrationBytes = 12;
inline constexpr std::size_t kRegistrationMaxChars = 11;

// Nationality prefixes in the order the form lists them and the split
// searches them: earlier entries win (N and C before CC). 193 entries, eleven
// of them twice.
inline constexpr std::size_t kRegistrationPrefixCount = 193;
extern const std::array<const char*, kRegistrationPrefixCount> REGISTRATION_PREFIXES;

// The prefix the form falls back to when a registration has none of the table.
inline constexpr std::string_view kDefaultRegistrationPrefix = "N";

using RegistrationBytes = std::array<std::uint8_t, kRegistrationBytes>;

// Prefix and number joined without separator, cut to 11 characters and to
// the first NUL. An empty number gives all zero, whatever the prefix; byte 11
// is always 0.
RegistrationBytes join_registration(std::string_view prefix, std::string_view number);

// How the form shows a stored registration.
struct RegistrationSplit {
    bool blank = true;   // b0 is 0x00 or 0xFF: nothing to show
    std::string text;    // the stored characters, 1-11 (empty when blank)
    std::string found;   // the table prefix the text begins with, "" if none
    std::string prefix;  // the prefix to select: found, else "N"
    std::string number;  // the rest for the number field
};

// The text runs from b0 to the first 0x00 or 0xFF among b1-b10 (b11 is never
// looked at). Without a known prefix the number is the first 10 characters,
// so that "N" plus the number still fits in 11.
RegistrationSplit split_registration(const RegistrationBytes& bytes);

// The registration bytes of the record and the three setting values that
// carry them (indices 11, 12, 13: four bytes each, first byte on top).
RegistrationBytes registration_of(const ConfigRecord& record);
std::array<std::uint32_t, 3> registration_words(const RegistrationBytes& bytes);

}  // namespace vk61
