// The check after a firmware update, for both front ends: the units were
// rebooted and waited for (wait_for_units_after_reboot), the configuration
// was loaded again (ConfigExchange::load), and it is compared here with the
// backup taken before the update. The firmware may reset or reinterpret
// settings; whatever it changed is listed so that the backup can be put back
// through the ordinary restore, which keeps every rule of a store.
#pragma once

#include <QString>

#include <cstdint>
#include <vector>

#include "config/config_file.h"
#include "device_info.h"

struct SettingDifference {
    const vk61::SettingEntry* entry = nullptr;
    QString name;
    QString backup_value;  // as the settings form shows it
    QString value_now;
};

// The settings the backup holds with another value than now, in catalogue
// order: the same comparison as the restore preview's.
std::vector<SettingDifference> differencesFromBackup(const vk61::ConfigFile& backup, const vk61::ConfigRecord& now);

// Bit n set for every unit of units with UID n (1-31; UID 0 is never heard):
// the units the reboot wait expects back.
std::uint32_t unitMask(const std::vector<vk61::DeviceInfo>& units);

// Texts both front ends show, so that the window and the command-line tool
// say the same thing about the same outcome.
QString configurationUnchangedText();
QString configurationDiffersText(std::size_t differing);
QString noBackupToCompareText();
// Some of expected were not heard after the reboot; names them.
QString unitsNotBackText(std::uint32_t expected, std::uint32_t heard);
