// What the units' flash must hold after an operation, asked of the simulator.
#pragma once

#include <string>
#include <vector>

#include "flash/flash_types.h"
#include "installation.h"
#include "transfer_payload.h"

namespace soak {

// The targets the firmware worker used, from its "  UID %u -> 0x%08X" lines.
std::vector<vk61::FirmwareTarget> firmware_targets_from_log(const std::vector<std::string>& lines);

// Every target holds the header at its write address, the body at write
// address + image offset and erased bytes between them.
bool firmware_in_flash(const sim::Installation& bus, const std::vector<vk61::FirmwareTarget>& targets,
                       const Transfer& transfer, std::string* problem);

// No target holds this operation's header (it goes last, after every image
// chunk was confirmed by every unit).
bool header_absent(const sim::Installation& bus, const std::vector<vk61::FirmwareTarget>& targets,
                   const Transfer& transfer, std::string* problem);

// Every unit holds the database from address 0 and has it open.
bool database_in_flash(const sim::Installation& bus, const std::vector<std::uint8_t>& uids, const Transfer& transfer,
                       std::string* problem);

}  // namespace soak
