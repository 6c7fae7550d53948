// The three external-flash commands: set address, write chunk, erase block.
// Each sends one frame on the link (its transmit lock inside) and waits for
// nothing; any thread.
#pragma once

#include <cstdint>

#include "link.h"

namespace vk61 {

bool send_set_address(Link& link, std::uint8_t uid, std::uint32_t address);
// At most kFlashChunkSize bytes.
bool send_write_chunk(Link& link, std::uint8_t uid, const std::uint8_t* data, std::uint32_t length);
bool send_erase_block(Link& link, std::uint8_t uid, std::uint32_t sequence, std::uint16_t block);

}  // namespace vk61
