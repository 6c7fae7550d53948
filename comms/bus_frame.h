// One ZEQBUS frame as held in memory, and the CAN FD length coding.
//
// This header is shared with the simulated installation (sim/): it holds only
// the plain frame layout, never the engine's logic, so that a misreading of
// the protocol on one side is caught by the other.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "protocol.h"

namespace vk61 {

// 72 bytes: link byte, 32-bit identifier (low 11 bits count), CAN FD DLC code,
// 64 data bytes, two zero bytes. Multi-byte fields are little-endian.
struct BusFrame {
    static constexpr std::size_t kSize = 72;
    static constexpr std::size_t kMaxData = 64;
    static constexpr std::size_t kDataOffset = 6;

    std::array<std::uint8_t, kSize> bytes{};

    std::uint8_t link() const { return bytes[0]; }
    void set_link(std::uint8_t v) { bytes[0] = v; }

    std::uint32_t identifier() const;
    void set_identifier(std::uint32_t id);

    std::uint8_t dlc() const { return bytes[5]; }
    void set_dlc(std::uint8_t code) { bytes[5] = code; }

    std::uint8_t* data() { return bytes.data() + kDataOffset; }
    const std::uint8_t* data() const { return bytes.data() + kDataOffset; }

    // Identifier scheme: identifier = base | UID.
    std::uint32_t base() const { return identifier() & protocol::kBaseMask; }
    std::uint8_t uid_bits() const { return static_cast<std::uint8_t>(identifier() & protocol::kUidMask); }

    // Number of data bytes the DLC code stands for (0 for code 0 and codes above
    // the largest).
    std::size_t payload_size() const;
};
static_assert(sizeof(BusFrame) == BusFrame::kSize);

// CAN FD DLC code -> byte count: 0..8, 12, 16, 20, 24, 32, 48, 64.
// Code 0 and any code above protocol::kLargestDlcCode carry no data.
std::size_t dlc_to_bytes(std::uint8_t code);

// The smallest DLC code whose byte count holds n bytes (n <= 64; larger n gives
// protocol::kLargestDlcCode).
std::uint8_t bytes_to_dlc(std::size_t n);

// Builds a zero-filled frame with the given link byte, identifier, DLC code and
// payload (at most 64 bytes are copied).
BusFrame make_frame(std::uint8_t link, std::uint32_t identifier, std::uint8_t dlc, const std::uint8_t* payload,
                    std::size_t payload_len);

// Little-endian field access on raw byte buffers (the protocol table's).
using protocol::get_u16;
using protocol::get_u24;
using protocol::get_u32;
using protocol::put_u16;
using protocol::put_u24;
using protocol::put_u32;

}  // namespace vk61
