// How much the units can take, stated once: the bus code refuses a file
// beyond these before it reads it, and the downloads code refuses a package
// beyond them before it stores it. Plain C++ with nothing but <cstdint> and
// the protocol table, so that both can include it.
#pragma once

#include <cstdint>

#include "../protocol.h"

namespace vk61 {

// The units' space for the airport database: 832 blocks of 64 KiB from
// address 0.
inline constexpr unsigned kMaxAirportDatabaseBlocks = 832;
inline constexpr std::int64_t kMaxAirportDatabaseBytes =
    static_cast<std::int64_t>(protocol::block_start(kMaxAirportDatabaseBlocks));  // 54,525,952

// The most one erase run can cover: blocks 0 to 0xFFFE (a run may not reach
// block 0xFFFF). A firmware file lies inside the space its units erase, so a
// larger file cannot be sent; it is refused before it is read.
inline constexpr std::int64_t kMaxEraseRunBytes =
    static_cast<std::int64_t>(protocol::block_start(0xFFFF));  // 4,294,901,760
inline constexpr std::int64_t kMaxFirmwareFileBytes = kMaxEraseRunBytes;

}  // namespace vk61
