// Packets of the virtual-bridge wire: a 2-byte little-endian length N, then N
// bytes. Host to bridge: the 73 bytes of one hid_write. Bridge to host: one
// input report, N = 1 to 128.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vhid {

constexpr std::size_t kMaxReportPacket = 128;  // bridge to host
constexpr std::size_t kMaxHostPacket = 1024;   // host to bridge; hid_write sends 73

inline void append_packet(std::vector<std::uint8_t>& out, const std::uint8_t* data, std::size_t len) {
    out.push_back(static_cast<std::uint8_t>(len));
    out.push_back(static_cast<std::uint8_t>(len >> 8));
    out.insert(out.end(), data, data + len);
}

enum class PacketStatus { Complete, NeedMore, Malformed };

// Looks at the front of buf: on Complete, payload_len is the packet's length
// and its bytes start at buf[2]. A length of 0 or above max_len is Malformed.
inline PacketStatus front_packet(const std::vector<std::uint8_t>& buf, std::size_t max_len, std::size_t& payload_len) {
    if (buf.size() < 2) return PacketStatus::NeedMore;
    payload_len = static_cast<std::size_t>(buf[0] | (buf[1] << 8));
    if (payload_len == 0 || payload_len > max_len) return PacketStatus::Malformed;
    return buf.size() >= 2 + payload_len ? PacketStatus::Complete : PacketStatus::NeedMore;
}

}  // namespace vhid
