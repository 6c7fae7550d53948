#include "config_image.h"

#include "config_crc.h"

#include <algorithm>

namespace sim {

namespace {

struct Field {
    unsigned offset;
    unsigned size;  // 1, 2 or 4 bytes
    bool big_endian;
};

std::optional<Field> field_of(unsigned index) {
    if (index >= 252 && index <= 255) return Field{(index - 252) * 4, 4, false};
    if (index == 0) return Field{16, 4, false};
    if (index >= 1 && index <= 8) return Field{20 + (index - 1), 1, false};
    if (index == 9) return Field{28, 2, false};
    if (index == 10) return Field{30, 2, false};
    if (index >= 11 && index <= 13) return Field{32 + (index - 11) * 4, 4, true};
    if (index >= 14 && index <= 26) return Field{44 + (index - 14) * 4, 4, false};
    if (index == 27) return Field{96, 2, false};
    if (index == 28) return Field{98, 2, false};
    if (index >= 29 && index <= 39) return Field{100 + (index - 29) * 4, 4, false};
    return std::nullopt;
}

std::uint32_t read_le32(const ConfigImage& image, unsigned offset) {
    return static_cast<std::uint32_t>(image[offset]) | (static_cast<std::uint32_t>(image[offset + 1]) << 8) |
           (static_cast<std::uint32_t>(image[offset + 2]) << 16) |
           (static_cast<std::uint32_t>(image[offset + 3]) << 24);
}

}  // namespace

bool is_config_index(unsigned index) { return field_of(index).has_value(); }

std::optional<std::uint32_t> config_element(const ConfigImage& image, unsigned index) {
    const auto field = field_of(index);
    if (!field) return std::nullopt;
    std::uint32_t value = 0;
    for (unsigned i = 0; i < field->size; ++i) {
        const std::uint32_t byte = image[field->offset + i];
        value |= field->big_endian ? byte << (8 * (3 - i)) : byte << (8 * i);
    }
    return value;
}

bool set_config_element(ConfigImage& image, unsigned index, std::uint32_t value) {
    const auto field = field_of(index);
    if (!field) return false;
    for (unsigned i = 0; i < field->size; ++i) {
        const unsigned shift = field->big_endian ? 8 * (3 - i) : 8 * i;
        image[field->offset + i] = static_cast<std::uint8_t>(value >> shift);
    }
    return true;
}

std::uint32_t config_image_crc(const ConfigImage& image) {
    const std::uint32_t n = std::min(read_le32(image, 12), kConfigWords);
    std::array<std::uint32_t, kConfigWords> words{};
    for (std::uint32_t i = 0; i < n; ++i) words[i] = read_le32(image, 4 + 4 * i);
    return crc32_mpeg2_words(words.data(), n);
}

}  // namespace sim
