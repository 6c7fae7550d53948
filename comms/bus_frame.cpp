#include "bus_frame.h"

#include <algorithm>
#include <cstring>

namespace vk61 {

namespace {
constexpr std::array<std::uint8_t, 16> kDlcBytes = {0, 1, 2, 3, 4, 5, 6, 7, 8, 12, 16, 20, 24, 32, 48, 64};
}

std::uint32_t BusFrame::identifier() const { return get_u32(bytes.data() + 1); }

void BusFrame::set_identifier(std::uint32_t id) { put_u32(bytes.data() + 1, id); }

std::size_t BusFrame::payload_size() const { return dlc_to_bytes(dlc()); }

std::size_t dlc_to_bytes(std::uint8_t code) { return code < kDlcBytes.size() ? kDlcBytes[code] : 0; }

std::uint8_t bytes_to_dlc(std::size_t n) {
    for (std::uint8_t code = 0; code < kDlcBytes.size(); ++code) {
        if (kDlcBytes[code] >= n) return code;
    }
    return protocol::kLargestDlcCode;
}

BusFrame make_frame(std::uint8_t link, std::uint32_t identifier, std::uint8_t dlc, const std::uint8_t* payload,
                    std::size_t payload_len) {
    BusFrame f;
    f.set_link(link);
    f.set_identifier(identifier);
    f.set_dlc(dlc);
    const std::size_t n = std::min(payload_len, BusFrame::kMaxData);
    if (payload != nullptr && n > 0) std::memcpy(f.data(), payload, n);
    return f;
}

}  // namespace vk61
