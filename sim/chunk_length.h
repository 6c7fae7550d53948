// How a unit decides how many bytes a write-chunk frame carries.
//
// A frame carries a DLC code, not a length, and the host pads a chunk to the
// next DLC size with zeros: a last chunk of 36 bytes travels as 48 bytes
// (DLC 14), yet the host expects the echo at +36. The unit therefore guesses:
//
//  - DLC codes up to 8 (1-8 bytes): the byte count, exactly.
//  - DLC codes 9-14 (12-48 bytes): only a transfer's last chunk can be that
//    short (every other chunk is 64 bytes), so trailing zero bytes are taken
//    as padding, down to the next smaller DLC size plus one (DLC 14: 33-48).
//  - DLC 15 (64 bytes): almost always a full chunk, whose data may well end
//    in a zero. Trailing zeros count as padding only when there are at least
//    four of them (down to 49 bytes); fewer are data.
//
// Consequences, by design of the frame format rather than of the unit: a last
// chunk of 61-63 bytes (padding of 1-3 zeros) is taken as 64; a last chunk
// shorter than 64 bytes whose data ends in zero bytes, or a full chunk ending
// in four or more zeros, is judged too short. In each case the unit writes
// and echoes the length it took and the host's echo check fails the
// transfer. Test data must avoid these cases.
#pragma once

#include "bus_frame.h"

#include <cstddef>

namespace sim {

// Fewest trailing zeros of a 64-byte chunk that are taken as padding.
inline constexpr std::size_t kFullChunkMinPadding = 4;

std::size_t chunk_length(const vk61::BusFrame& frame);

}  // namespace sim
