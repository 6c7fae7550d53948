// Unit masks: bit n of a 32-bit mask stands for UID n.
#pragma once

#include <cstdint>

#include "protocol.h"

namespace vk61 {

// Bit n stands for UID n; UIDs beyond the mask width have no bit.
constexpr std::uint32_t uid_bit(unsigned uid) { return uid < 32 ? 1u << uid : 0u; }

// The lowest unit UID (1 to the highest) with its bit set in mask, or 0: the unit a request goes
// to first, or the unit named when several did not answer.
constexpr std::uint8_t lowest_uid(std::uint32_t mask) {
    for (unsigned uid = 1; uid <= protocol::kHighestUid; ++uid) {
        if (mask & uid_bit(uid)) return static_cast<std::uint8_t>(uid);
    }
    return 0;
}

}  // namespace vk61
