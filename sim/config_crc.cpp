#include "config_crc.h"

namespace sim {

std::uint32_t crc32_mpeg2_words(const std::uint32_t* words, std::size_t n) {
    std::uint32_t crc = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < n; ++i) {
        crc ^= words[i];
        for (int bit = 0; bit < 32; ++bit) {
            crc = (crc & 0x80000000u) ? (crc << 1) ^ 0x04C11DB7u : (crc << 1);
        }
    }
    return crc;
}

}  // namespace sim
