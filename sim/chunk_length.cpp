#include "chunk_length.h"

namespace sim {

std::size_t chunk_length(const vk61::BusFrame& frame) {
    const std::uint8_t code = frame.dlc();
    const std::size_t size = vk61::dlc_to_bytes(code);
    if (size <= 8) return size;

    const std::size_t floor = vk61::dlc_to_bytes(static_cast<std::uint8_t>(code - 1)) + 1;
    std::size_t n = size;
    while (n > floor && frame.data()[n - 1] == 0) --n;
    if (size == vk61::BusFrame::kMaxData && size - n < kFullChunkMinPadding) return size;
    return n;
}

}  // namespace sim
