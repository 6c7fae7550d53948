// The 64-byte header at the start of a firmware file. The tool reads three
// fields and carries every byte along untouched: the header is written to the
// units whole, as the last step of an update.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace vk61 {

class FirmwareHeader {
public:
    static constexpr std::size_t kSize = 64;

    FirmwareHeader() = default;
    explicit FirmwareHeader(const std::array<std::uint8_t, kSize>& bytes) : bytes_(bytes) {}

    // Bytes to erase on each unit, counted from its write address.
    std::uint32_t total_size() const;
    // Length of the image body that follows the header in the file.
    std::uint32_t encrypted_size() const;
    // Distance from the unit's write address to where the body is written.
    std::uint32_t image_offset() const;

    const std::array<std::uint8_t, kSize>& bytes() const { return bytes_; }
    std::uint8_t* data() { return bytes_.data(); }
    const std::uint8_t* data() const { return bytes_.data(); }

private:
    std::array<std::uint8_t, kSize> bytes_{};
};

}  // namespace vk61
