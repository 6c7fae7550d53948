// The reply a unit sends for every set-address, write-chunk and erase-block
// command.
#pragma once

#include <cstdint>
#include <optional>

#include "bus_frame.h"
#include "protocol.h"

namespace vk61 {

struct FlashReply {
    std::uint8_t uid = 0;
    std::uint8_t operation = 0;
    std::uint32_t address = 0;
    std::uint8_t status = 0;
};

// The frame's flash reply, or nothing when the frame is not one (another base
// or DLC code) or names a UID above the highest.
inline std::optional<FlashReply> parse_flash_reply(const BusFrame& frame) {
    if (frame.base() != protocol::kFlashReply || frame.dlc() != protocol::kDlcFlashReply) return std::nullopt;
    const std::uint8_t* d = frame.data();
    if (d[0] > protocol::kHighestUid) return std::nullopt;
    return FlashReply{d[0], d[1], get_u32(d + 2), d[6]};
}

}  // namespace vk61
