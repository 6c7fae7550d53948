// The bus protocol as the engine speaks it: identifier bases, DLC codes and
// the operation bytes of every frame the manager sends or reads.
//
// An identifier is base | UID (low four bits). Frames sent to every unit use
// UID bits 0. Only the engine includes this table: the simulated units (sim/)
// keep their own copy of these numbers on purpose, so that a misreading of
// the protocol on one side is caught by the other.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vk61::protocol {

// ---- identifier bases ----
inline constexpr std::uint32_t kBaseMask = 0x7F0;
inline constexpr std::uint32_t kUidMask = 0x00F;
inline constexpr std::uint32_t kIdentifierMask = 0x7FF;

inline constexpr std::uint32_t kWhoami = 0x010;           // request and reply
inline constexpr std::uint32_t kAcknowledgement = 0x0E0;  // sequenced and plain acks
inline constexpr std::uint32_t kFlashReply = 0x0F0;       // set-address, write-chunk, erase-block replies
inline constexpr std::uint32_t kSettingRead = 0x370;      // | UID of the unit asked
inline constexpr std::uint32_t kSettingReply = 0x380;
inline constexpr std::uint32_t kSettingWrite = 0x390;
inline constexpr std::uint32_t kStoreSettings = 0x3A0;
inline constexpr std::uint32_t kReboot = 0x3B0;
inline constexpr std::uint32_t kWriteChunk = 0x420;  // | UID; UID 0: every unit
inline constexpr std::uint32_t kEraseBlock = 0x430;  // | UID
inline constexpr std::uint32_t kSetAddress = 0x440;  // | UID
inline constexpr std::uint32_t kAirportDb = 0x450;   // | UID
inline constexpr std::uint32_t kPrepare = 0x730;     // request and reply
inline constexpr std::uint32_t kClientInfo = 0x790;  // request, reply and occupancy report

// ---- DLC codes ----
inline constexpr std::uint8_t kDlcWhoamiRequest = 2;
inline constexpr std::uint8_t kDlcWhoamiReply = 9;
inline constexpr std::uint8_t kDlcSequencedAck = 7;
inline constexpr std::uint8_t kDlcPlainAck = 4;
inline constexpr std::uint8_t kDlcFlashReply = 7;
inline constexpr std::uint8_t kDlcSettingRead = 2;
inline constexpr std::uint8_t kDlcSettingWrite = 8;
inline constexpr std::uint8_t kDlcStoreSettings = 7;
inline constexpr std::uint8_t kDlcReboot = 1;
inline constexpr std::uint8_t kDlcSetAddress = 4;
inline constexpr std::uint8_t kDlcEraseBlock = 6;
inline constexpr std::uint8_t kDlcAirportDb = 1;
inline constexpr std::uint8_t kDlcPrepareRequest = 2;
inline constexpr std::uint8_t kDlcPrepareReply = 5;
inline constexpr std::uint8_t kDlcClientInfo = 9;

// ---- operation bytes and markers ----
inline constexpr std::uint8_t kWhoamiRequest[] = {0xEF, 0x15};
inline constexpr std::uint8_t kRebootCommand = 0x48;
inline constexpr std::uint8_t kPrepareRequest[] = {0x24, 0x67};
inline constexpr std::uint32_t kPrepareRefused = 0xFFFFFFFF;  // write address of a unit that refuses
inline constexpr std::uint8_t kClientInfoRequest = 0x73;      // 's'
inline constexpr std::uint8_t kOccupancyReport = 0x72;        // first data byte of an occupancy report
inline constexpr std::uint8_t kCloseAirportDb = 0xDC;
inline constexpr std::uint8_t kOpenAirportDb = 0xDA;

// Acknowledgement status byte.
inline constexpr std::uint8_t kAckStatusNack = 0;
inline constexpr std::uint8_t kAckStatusAck = 1;

// Flash reply operation bytes; the erase-block command carries its own as a
// marker in its first byte.
inline constexpr std::uint8_t kFlashOpSetAddress = 0xA1;
inline constexpr std::uint8_t kFlashOpWriteChunk = 0xAA;
inline constexpr std::uint8_t kFlashOpEraseBlock = 0xBE;
inline constexpr std::uint8_t kFlashStatusDone = 1;

// A setting reply carries UID, index and a 32-bit value.
inline constexpr std::size_t kSettingReplyMinBytes = 6;

// Highest unit UID; UID 0 addresses every unit.
inline constexpr unsigned kHighestUid = 15;
// One bit per unit UID (bit n for UID n), bit 0 clear: the only UIDs whose
// acknowledgements a command can ever hear.
inline constexpr std::uint32_t kUnitUidBits = ((std::uint32_t{1} << (kHighestUid + 1)) - 1) & ~std::uint32_t{1};

// ---- device id ----
// A unit's 32-bit device id holds its type code in the top byte and its
// hardware revision in the byte below.
inline constexpr unsigned kDeviceTypeShift = 24;
inline constexpr unsigned kDeviceRevisionShift = 16;

inline constexpr std::uint8_t device_type(std::uint32_t device_id) {
    return static_cast<std::uint8_t>(device_id >> kDeviceTypeShift);
}
inline constexpr std::uint8_t device_revision(std::uint32_t device_id) {
    return static_cast<std::uint8_t>(device_id >> kDeviceRevisionShift);
}

// Unit type codes (device_type of a device id).
inline constexpr std::uint8_t kTypeHalvard = 0xC3;  // the EFIS
inline constexpr std::uint8_t kTypeTessaly = 0xD5;
inline constexpr std::uint8_t kTypeMorrow = 0xFF;

// ---- firmware version ----
// A unit's 32-bit firmware version: major, minor, patch and release
// candidate, one byte each from the top down.
inline constexpr unsigned kFirmwareMajorShift = 24;
inline constexpr unsigned kFirmwareMinorShift = 16;
inline constexpr unsigned kFirmwarePatchShift = 8;

inline constexpr unsigned firmware_major(std::uint32_t version) { return (version >> kFirmwareMajorShift) & 0xFFu; }
inline constexpr unsigned firmware_minor(std::uint32_t version) { return (version >> kFirmwareMinorShift) & 0xFFu; }
inline constexpr unsigned firmware_patch(std::uint32_t version) { return (version >> kFirmwarePatchShift) & 0xFFu; }
inline constexpr unsigned firmware_candidate(std::uint32_t version) { return version & 0xFFu; }

// ---- flash ----
// External flash is erased in 64 KiB blocks; a block's number is its first
// address shifted right by this.
inline constexpr unsigned kFlashBlockShift = 16;
inline constexpr std::uint64_t kFlashBlockBytes = std::uint64_t{1} << kFlashBlockShift;

// The block that holds address.
inline constexpr std::uint64_t block_of(std::uint64_t address) { return address >> kFlashBlockShift; }
// The first address of block.
inline constexpr std::uint64_t block_start(std::uint64_t block) { return block << kFlashBlockShift; }
// How many blocks size bytes fill from a block boundary (a part block counts).
inline constexpr std::uint64_t blocks_for(std::uint64_t size) { return block_of(size + kFlashBlockBytes - 1); }

// ---- frames ----
// The largest DLC code: 64 data bytes. Codes above it carry no data.
inline constexpr std::uint8_t kLargestDlcCode = 15;

// Multi-byte fields in frames are little-endian; sequence numbers are 24 bits.
// The simulated units use these through bus_frame.h: byte order is the frame's
// layout, shared like the frame itself.
inline std::uint16_t get_u16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }
inline std::uint32_t get_u24(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16);
}
inline std::uint32_t get_u32(const std::uint8_t* p) { return get_u24(p) | (static_cast<std::uint32_t>(p[3]) << 24); }
inline void put_u16(std::uint8_t* p, std::uint16_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}
inline void put_u24(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
    p[2] = static_cast<std::uint8_t>(v >> 16);
}
inline void put_u32(std::uint8_t* p, std::uint32_t v) {
    put_u24(p, v);
    p[3] = static_cast<std::uint8_t>(v >> 24);
}

}  // namespace vk61::protocol
