#include "chunk_length.h"

namespace sim {

std::size_t chunk_length(const vk61::BusFrame& frame) {
    const std::uint8_t code = frame.dlc();
    std::size_t n = vk61::dlc_to_bytes(code);
    if (n <= 8) return n;
    const std::size_t floor = vk61::dlc_to_bytes(static_cast<std::uint8_t>(code - 1)) + 1;
    while (n > floor && frame.data()[n - 1] == 0) --n;
    return n;
}

}  // namespace sim
