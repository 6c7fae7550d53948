// The automatic backup taken before every store: what the EFIS last
// confirmed, written into the backup folder of its serial. Both front ends
// take it the same way; a backup that cannot be written is reported and
// never stops the store.
#pragma once

#include <QString>

#include <optional>

#include "config/backup_store.h"
#include "config/config_model.h"
#include "device_info.h"

struct StoreBackup {
    bool taken = false;               // false: nothing complete to keep (a store is refused then anyway)
    vk61::BackupStore::Result saved;  // taken: how the write ended

    // Nothing to keep, or kept: the store goes on without a warning.
    bool ok() const { return !taken || saved.ok(); }
};

// describe(saved) when taken; otherwise why there was nothing to keep.
QString describe(const StoreBackup& backup);

// Writes the backup under root for reason, by tool ("name version").
StoreBackup backupBeforeStore(const vk61::ConfigModel& model, const std::optional<vk61::DeviceInfo>& efis,
                              const QString& tool, const QString& reason, const QString& root);
