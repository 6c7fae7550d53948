// The automatic backup taken before every store: what the EFIS last
// confirmed, written into the backup folder of its serial. Both front ends
// take it the same way; a backup that cannot be written is reported and
// never stops the store.
#pragma once

#include <QString>

#include <optional>

#include "config/config_model.h"
#include "device_info.h"

struct StoreBackup {
    bool taken = false;  // false: nothing complete to keep (a store is refused then anyway)
    QString path;        // the file written, or the newest one that made it unnecessary
    QString error;       // why it could not be written; "" when it was
};

// Writes the backup under root for reason, by tool ("name version").
StoreBackup backupBeforeStore(const vk61::ConfigModel& model, const std::optional<vk61::DeviceInfo>& efis,
                              const QString& tool, const QString& reason, const QString& root);
