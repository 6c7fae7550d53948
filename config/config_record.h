// The EFIS configuration record: a 144-byte little-endian image of four
// header words (indices 252-255) and forty settings (indices 0-39), each
// exchanged over the bus as one 32-bit value per index.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "setting_indices.h"

namespace vk61 {

struct ConfigRecord {
    static constexpr std::size_t kSize = 144;
    static constexpr std::uint32_t kMagic = 0x5F51455A;  // "ZEQ_"
    // Words covered by the checksum in a record of this layout (offsets 4-143).
    static constexpr std::uint32_t kCoveredWords = 35;

    std::array<std::uint8_t, kSize> bytes{};

    std::uint32_t checksum() const;
    void set_checksum(std::uint32_t v);
    std::uint32_t magic() const;
    void set_magic(std::uint32_t v);
    std::uint32_t memory_version() const;
    void set_memory_version(std::uint32_t v);
    std::uint32_t num_elements() const;
    void set_num_elements(std::uint32_t v);

    std::uint8_t default_screen(std::uint8_t uid) const;  // uid 0 to protocol::kHighestUid
    void set_default_screen(std::uint8_t uid, std::uint8_t screen);

    void clear() { bytes.fill(0); }
};

// Stores value into the field of index and recomputes the checksum; false
// (record untouched) for an index outside the table.
bool config_set_value(ConfigRecord& record, unsigned index, std::uint32_t value);

// The setting value of index; 0xFFFFFFFF for an index outside the table.
std::uint32_t config_get_value(const ConfigRecord& record, unsigned index);

// CRC-32/MPEG-2 over num_elements words from offset 4; 0 for a blank record
// (checksum 0xFFFFFFFF). Never reads past the record: a num_elements above 35
// counts as 35, the words the record holds.
std::uint32_t config_crc(const ConfigRecord& record);

}  // namespace vk61
