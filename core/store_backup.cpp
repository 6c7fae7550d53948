#include "core/store_backup.h"

#include "config/backup_store.h"
#include "core/configuration_snapshot.h"

StoreBackup backupBeforeStore(const vk61::ConfigModel& model, const std::optional<vk61::DeviceInfo>& efis,
                              const QString& tool, const QString& reason, const QString& root) {
    StoreBackup backup;
    const auto file = confirmedConfigurationFile(model, efis, tool, reason);
    if (!file) return backup;
    backup.taken = true;
    const vk61::BackupStore::Result result = vk61::BackupStore(root).save(*file);
    backup.path = result.path;
    if (result.outcome == vk61::BackupStore::Outcome::Failed) backup.error = result.error;
    return backup;
}
