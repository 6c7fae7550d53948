#include "firmware_header.h"

#include "bus_frame.h"

namespace vk61 {

namespace {
constexpr std::size_t kTotalSizeOffset = 8;
constexpr std::size_t kEncryptedSizeOffset = 16;
constexpr std::size_t kImageOffsetOffset = 44;
}  // namespace

std::uint32_t FirmwareHeader::total_size() const { return get_u32(bytes_.data() + kTotalSizeOffset); }

std::uint32_t FirmwareHeader::encrypted_size() const { return get_u32(bytes_.data() + kEncryptedSizeOffset); }

std::uint32_t FirmwareHeader::image_offset() const { return get_u32(bytes_.data() + kImageOffsetOffset); }

}  // namespace vk61
