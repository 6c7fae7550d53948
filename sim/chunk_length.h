// How a unit decides how many bytes a write-chunk frame carries.
//
// A frame carries a DLC code, not a length, and the host pads a chunk to the
// next DLC size with zeros: a last chunk of 36 bytes travels as 48 bytes
// (DLC 14), yet the host expects the echo at +36. So the unit takes the DLC's
// byte count, and when that count is above 8 it trims trailing zero bytes, but
// never below the byte count of the next smaller DLC code plus one (DLC 14:
// 33 to 48 bytes; DLC 15: 49 to 64).
//
// Consequence: a chunk above 8 bytes whose real data ends in zero bytes is
// judged shorter than it is. A 36-byte chunk ending in 00 00 counts as 34, and
// a full 64-byte chunk ending in 00 counts as 63 (an all-zero one as 49); the
// unit writes and echoes that length and the host's echo check fails the
// transfer. Chunks of 1 to 8 bytes are always taken whole.
#pragma once

#include "bus_frame.h"

#include <cstddef>

namespace sim {

std::size_t chunk_length(const vk61::BusFrame& frame);

}  // namespace sim
