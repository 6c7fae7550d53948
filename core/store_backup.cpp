#include "core/store_backup.h"

#include "core/configuration_snapshot.h"

StoreBackup backupBeforeStore(const vk61::ConfigModel& model, const std::optional<vk61::DeviceInfo>& efis,
                              const QString& tool, const QString& reason, const QString& root) {
    StoreBackup backup;
    const auto file = confirmedConfigurationFile(model, efis, tool, reason);
    if (!file) return backup;
    backup.taken = true;
    backup.saved = vk61::BackupStore(root).save(*file);
    return backup;
}

QString describe(const StoreBackup& backup) {
    if (!backup.taken) return QStringLiteral("No complete configuration to back up");
    return vk61::describe(backup.saved);
}
