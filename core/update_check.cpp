#include "core/update_check.h"

#include <QStringList>

std::vector<SettingDifference> differencesFromBackup(const vk61::ConfigFile& backup, const vk61::ConfigRecord& now) {
    std::vector<SettingDifference> differences;
    for (const vk61::SettingEntry* entry : vk61::changed_settings(backup, now)) {
        differences.push_back({entry, QString::fromUtf8(entry->name.data(), static_cast<qsizetype>(entry->name.size())),
                               vk61::setting_display_text(*entry, backup.settings),
                               vk61::setting_display_text(*entry, now)});
    }
    return differences;
}

std::uint32_t unitMask(const std::vector<vk61::DeviceInfo>& units) {
    std::uint32_t mask = 0;
    for (const vk61::DeviceInfo& unit : units) {
        if (unit.uid > 0 && unit.uid < 32) mask |= 1u << unit.uid;
    }
    return mask;
}

QString configurationUnchangedText() { return QStringLiteral("Configuration unchanged by the update"); }

QString configurationDiffersText(std::size_t differing) {
    return QStringLiteral("%1 setting(s) differ from the backup taken before the update").arg(differing);
}

QString noBackupToCompareText() {
    return QStringLiteral("No backup of the configuration was taken before the update; nothing can be compared");
}

QString unitsNotBackText(std::uint32_t expected, std::uint32_t heard) {
    QStringList missing;
    for (unsigned uid = 0; uid < 32; ++uid) {
        if ((expected >> uid & 1u) != 0 && (heard >> uid & 1u) == 0) missing << QString::number(uid);
    }
    return QStringLiteral(
               "Not every unit came back after the reboot (UID %1 did not answer); the configuration "
               "was not compared")
        .arg(missing.join(QStringLiteral(", ")));
}
