// The dialogs of the Configuration menu: the preview of a configuration
// file against the EFIS, and the list of automatic backups to choose from.
// Both are modal and block their caller until closed (GUI thread).
#pragma once

#include <QString>

#include <optional>
#include <vector>

#include "config/backup_store.h"
#include "config/config_file.h"

class QWidget;

namespace vk61 {

// Lists every setting whose value in file differs from efis, each with a
// check box ticked by default. Returns the ticked settings when the user
// presses Apply, nullopt on Cancel. With efis null (the EFIS's configuration
// memory is erased) every setting is new and is written: all are listed,
// none can be unticked.
std::optional<std::vector<const vk61::SettingEntry*>> previewConfiguration(QWidget* parent,
                                                                           const vk61::ConfigFile& file,
                                                                           const vk61::ConfigRecord* efis,
                                                                           const QString& source);

// The backups newest first, with date and reason; returns the path of the
// one chosen, or "" when the dialog is closed without a choice.
QString chooseBackup(QWidget* parent, const std::vector<vk61::BackupStore::Entry>& backups);

}  // namespace vk61
