// The reply a unit sends for every set-address, write-chunk and erase-block
// command (identifier base 0x0F0, DLC code 7).
#pragma once

#include <cstdint>
#include <optional>

#include "bus_frame.h"

namespace vk61 {

inline constexpr std::uint8_t kFlashOpSetAddress = 0xA1;
inline constexpr std::uint8_t kFlashOpWriteChunk = 0xAA;
inline constexpr std::uint8_t kFlashOpEraseBlock = 0xBE;
inline constexpr std::uint8_t kFlashStatusDone = 1;

struct FlashReply {
    std::uint8_t uid = 0;
    std::uint8_t operation = 0;
    std::uint32_t address = 0;
    std::uint8_t status = 0;
};

// The frame's flash reply, or nothing when the frame is not one (another base
// or DLC code) or names a UID above 15.
inline std::optional<FlashReply> parse_flash_reply(const BusFrame& frame) {
    if (frame.base() != 0x0F0 || frame.dlc() != 7) return std::nullopt;
    const std::uint8_t* d = frame.data();
    if (d[0] > 15) return std::nullopt;
    return FlashReply{d[0], d[1], get_u32(d + 2), d[6]};
}

}  // namespace vk61
