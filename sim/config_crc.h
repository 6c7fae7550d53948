// CRC-32/MPEG-2 as the units compute it over their configuration record.
#pragma once

#include <cstddef>
#include <cstdint>

namespace sim {

// CRC-32/MPEG-2 (polynomial 0x04C11DB7, initial value 0xFFFFFFFF, no reflection,
// no final XOR) over n 32-bit words, each word fed most-significant byte first.
// n = 0 gives 0xFFFFFFFF.
std::uint32_t crc32_mpeg2_words(const std::uint32_t* words, std::size_t n);

}  // namespace sim
