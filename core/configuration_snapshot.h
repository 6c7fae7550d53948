// The configuration as a file, taken from what the EFIS confirmed: for an
// export and for the automatic backup before a store or a firmware update.
// Shared by the window and the command-line tool.
#pragma once

#include <QString>

#include <optional>

#include "config/config_file.h"
#include "config/config_model.h"
#include "device_info.h"

namespace vk61 {
class CommsManager;
}

// The primary unit's record, if it has identified itself.
std::optional<vk61::DeviceInfo> primaryUnit(const vk61::CommsManager& comms);

// The record the EFIS last confirmed, as a file written now by tool ("name
// version") for reason, naming efis when known; none while the last load left
// a setting unknown or nothing was read. A record that does not match the
// EFIS's stored checksum is marked as holding unstored values.
std::optional<vk61::ConfigFile> confirmedConfigurationFile(const vk61::ConfigModel& model,
                                                           const std::optional<vk61::DeviceInfo>& efis,
                                                           const QString& tool, const QString& reason);
