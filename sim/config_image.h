// The configuration record as a unit holds it: a 144-byte little-endian image
// of header words (indices 252-255) and settings (indices 0-39). Each index is
// exchanged on the bus as one 32-bit value; narrower fields keep only the low
// bits of what is written, and the registration words travel big-endian.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

namespace sim {

using ConfigImage = std::array<std::uint8_t, 144>;

constexpr std::uint32_t kConfigMagic = 0x5F51455Au;  // "ZEQ_"
constexpr std::uint32_t kConfigWords = 35;           // words from offset 4 to the end

// True for indices 0-39 and 252-255.
bool is_config_index(unsigned index);

// The 32-bit value of an index, or nullopt for an index outside the record.
std::optional<std::uint32_t> config_element(const ConfigImage& image, unsigned index);

// Stores a value under an index (low bits for narrow fields). False, and the
// image untouched, for an index outside the record. Never touches the checksum
// word unless index 252 is written: the unit stores what it is told.
bool set_config_element(ConfigImage& image, unsigned index, std::uint32_t value);

// CRC-32/MPEG-2 over num_elements (element 255) words from offset 4, limited to
// the 35 words the image holds so a bad count never reads past the record.
std::uint32_t config_image_crc(const ConfigImage& image);

}  // namespace sim
