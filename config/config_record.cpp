// The index table of the configuration record, its access operations and
// its checksum.
#include "config_record.h"

#include <QtEndian>

#include <algorithm>
#include <optional>

#include "comms/protocol.h"

namespace vk61 {

namespace {

// Where one setting index lives in the image. Registration words travel
// big-endian (first character in the top byte); everything else is
// little-endian like the image itself.
struct Field {
    std::size_t offset;
    std::size_t size;  // 1, 2 or 4 bytes
    bool big_endian;
};

std::optional<Field> field_of(unsigned index) {
    if (index >= kIndexChecksum && index <= kIndexNumElements) return Field{(index - kIndexChecksum) * 4u, 4, false};
    if (index == 0) return Field{16, 4, false};                              // units
    if (index >= 1 && index <= 8) return Field{20 + (index - 1), 1, false};  // speeds
    if (index == 9) return Field{28, 2, false};                              // min_volt_warn
    if (index == 10) return Field{30, 2, false};                             // max_volt_warn
    if (index >= kIndexRegistrationFirst && index <= kIndexRegistrationLast) {
        return Field{32 + (index - kIndexRegistrationFirst) * 4u, 4, true};  // registration
    }
    if (index >= 14 && index <= 26) return Field{44 + (index - 14) * 4u, 4, false};  // colours .. pitch
    if (index == 27) return Field{96, 2, false};                                     // min_volt_alert
    if (index == 28) return Field{98, 2, false};                                     // max_volt_alert
    if (index >= 29 && index <= kIndexDefaultScreenLast) return Field{100 + (index - 29) * 4u, 4, false};
    return std::nullopt;
}

std::uint32_t read_le32(const ConfigRecord& record, std::size_t offset) {
    return qFromLittleEndian<quint32>(record.bytes.data() + offset);
}

void write_le32(ConfigRecord& record, std::size_t offset, std::uint32_t value) {
    for (std::size_t i = 0; i < 4; ++i) record.bytes[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

constexpr std::size_t kOffsetChecksum = 0;
constexpr std::size_t kOffsetMagic = 4;
constexpr std::size_t kOffsetMemoryVersion = 8;
constexpr std::size_t kOffsetNumElements = 12;
constexpr std::size_t kOffsetDefaultScreen = 128;
constexpr std::uint8_t kMaxUid = protocol::kHighestUid;

}  // namespace

std::uint32_t ConfigRecord::checksum() const { return read_le32(*this, kOffsetChecksum); }
void ConfigRecord::set_checksum(std::uint32_t v) { write_le32(*this, kOffsetChecksum, v); }
std::uint32_t ConfigRecord::magic() const { return read_le32(*this, kOffsetMagic); }
void ConfigRecord::set_magic(std::uint32_t v) { write_le32(*this, kOffsetMagic, v); }
std::uint32_t ConfigRecord::memory_version() const { return read_le32(*this, kOffsetMemoryVersion); }
void ConfigRecord::set_memory_version(std::uint32_t v) { write_le32(*this, kOffsetMemoryVersion, v); }
std::uint32_t ConfigRecord::num_elements() const { return read_le32(*this, kOffsetNumElements); }
void ConfigRecord::set_num_elements(std::uint32_t v) { write_le32(*this, kOffsetNumElements, v); }

std::uint8_t ConfigRecord::default_screen(std::uint8_t uid) const {
    return uid <= kMaxUid ? bytes[kOffsetDefaultScreen + uid] : 0;
}

void ConfigRecord::set_default_screen(std::uint8_t uid, std::uint8_t screen) {
    if (uid <= kMaxUid) bytes[kOffsetDefaultScreen + uid] = screen;
}

bool config_set_value(ConfigRecord& record, unsigned index, std::uint32_t value) {
    const auto field = field_of(index);
    if (!field) return false;
    for (std::size_t i = 0; i < field->size; ++i) {
        const std::size_t shift = field->big_endian ? 8 * (3 - i) : 8 * i;
        record.bytes[field->offset + i] = static_cast<std::uint8_t>(value >> shift);
    }
    // Also for index 252: the value just stored decides whether the record
    // counts as blank.
    record.set_checksum(config_crc(record));
    return true;
}

std::uint32_t config_get_value(const ConfigRecord& record, unsigned index) {
    const auto field = field_of(index);
    if (!field) return 0xFFFFFFFFu;
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < field->size; ++i) {
        const std::uint32_t byte = record.bytes[field->offset + i];
        value |= field->big_endian ? byte << (8 * (3 - i)) : byte << (8 * i);
    }
    return value;
}

std::uint32_t config_crc(const ConfigRecord& record) {
    if (record.checksum() == 0xFFFFFFFFu) return 0;
    // A device may report any count; the record holds 35 words after the
    // checksum, and a CRC over words that are not there could never be
    // checked anyway.
    const std::uint32_t words = std::min(record.num_elements(), ConfigRecord::kCoveredWords);
    std::uint32_t crc = 0xFFFFFFFFu;
    for (std::uint32_t i = 0; i < words; ++i) {
        crc ^= read_le32(record, kOffsetMagic + 4 * i);
        for (int bit = 0; bit < 32; ++bit) crc = (crc & 0x80000000u) ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
    }
    return crc;
}

}  // namespace vk61
