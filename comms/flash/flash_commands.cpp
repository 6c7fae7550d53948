// The three external-flash commands: set address, write chunk, erase block.
#include "flash/flash_commands.h"

#include "bus_frame.h"
#include "flash/flash_types.h"
#include "protocol.h"

namespace vk61 {

bool send_set_address(Link& link, std::uint8_t uid, std::uint32_t address) {
    std::uint8_t payload[4];
    put_u32(payload, address);
    return link.send_command(protocol::kSetAddress | (uid & protocol::kUidMask), protocol::kDlcSetAddress, payload,
                             sizeof payload);
}

// The frame carries a DLC code, not a length: a chunk that is not a DLC size
// travels zero-padded to the next one (36 bytes as 48). The unit's echo still
// names the real length, which the caller keeps as the chunk length.
bool send_write_chunk(Link& link, std::uint8_t uid, const std::uint8_t* data, std::uint32_t length) {
    if (data == nullptr || length == 0 || length > kFlashChunkSize) return false;
    return link.send_command(protocol::kWriteChunk | (uid & protocol::kUidMask), bytes_to_dlc(length), data, length);
}

bool send_erase_block(Link& link, std::uint8_t uid, std::uint32_t sequence, std::uint16_t block) {
    std::uint8_t payload[6];
    payload[0] = protocol::kFlashOpEraseBlock;
    put_u24(payload + 1, sequence);
    put_u16(payload + 4, block);
    return link.send_command(protocol::kEraseBlock | (uid & protocol::kUidMask), protocol::kDlcEraseBlock, payload,
                             sizeof payload);
}

}  // namespace vk61
