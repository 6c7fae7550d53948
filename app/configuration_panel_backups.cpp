// The Configuration menu: exporting the EFIS configuration to a file,
// restoring one from a file or from an automatic backup after a preview, and
// the automatic backup taken before every store and firmware update.
//
// Everything here runs on the GUI thread; the restore's store and reload run
// on the bus worker, like Save and Load do.
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMainWindow>
#include <QMessageBox>
#include <QStandardPaths>
#include <QStatusBar>

#include "comms_manager.h"
#include "config/backup_store.h"
#include "config/config_file.h"
#include "config_preview.h"
#include "configuration_panel.h"
#include "core/configuration_snapshot.h"
#include "core/device_text.h"
#include "files/checked_file_writer.h"
#include "core/store_backup.h"
#include "core/store_texts.h"
#include "core/update_check.h"
#include "ui_mainwindow.h"

#ifndef VK61_VERSION
#define VK61_VERSION "unknown"
#endif

namespace vk61 {

namespace {

const QString kFileFilter = QStringLiteral("EFIS Configuration (*.json);;All Files (*)");

}  // namespace

std::optional<vk61::DeviceInfo> ConfigurationPanel::primaryUnit() const {
    if (!comms_) return std::nullopt;
    return ::primaryUnit(*comms_);
}

std::optional<vk61::ConfigFile> ConfigurationPanel::confirmedConfigurationFile(const QString& reason) const {
    return ::confirmedConfigurationFile(model_, primaryUnit(), QStringLiteral("vk61-efis-config " VK61_VERSION),
                                        reason);
}

QString ConfigurationPanel::backupBeforeStore(const QString& reason, QString* path) {
    // With settings unknown there is nothing complete to keep; a store is
    // refused then anyway.
    const StoreBackup backup =
        ::backupBeforeStore(model_, primaryUnit(), QStringLiteral("vk61-efis-config " VK61_VERSION), reason,
                            vk61::BackupStore::default_root());
    if (!backup.ok()) {
        qWarning() << "Configuration backup failed:" << backup.saved.error;
        return backup.saved.error;
    }
    if (backup.taken) qDebug() << "Configuration backup:" << backup.saved.path;
    if (path && backup.taken) *path = backup.saved.path;
    return {};
}

void ConfigurationPanel::compareWithBackup(const QString& backup) {
    if (backup.isEmpty()) {
        qDebug().noquote() << noBackupToCompareText();
        showStatus(noBackupToCompareText());
        return;
    }
    QString error;
    const std::optional<vk61::ConfigFile> file = vk61::load_config_file(backup, &error);
    if (!file) {
        const QString text = tr("Error: The backup %1 cannot be read (%2); nothing can be compared")
                                 .arg(QDir::toNativeSeparators(backup), error);
        qDebug().noquote() << text;
        showStatus(text);
        return;
    }
    // Called after a load that read everything, which leaves it set.
    if (!model_.confirmed()) return;
    const std::vector<SettingDifference> differences = differencesFromBackup(*file, *model_.confirmed());
    if (differences.empty()) {
        qDebug().noquote() << configurationUnchangedText();
        showStatus(configurationUnchangedText());
        return;
    }
    qDebug().noquote() << configurationDiffersText(differences.size());
    for (const SettingDifference& difference : differences) {
        qDebug().noquote() << " " << difference.name << difference.backup_value << "->" << difference.value_now;
    }
    showStatus(configurationDiffersText(differences.size()));
    restoreConfigurationFrom(backup);
}

void ConfigurationPanel::showBackupError(const QString& error) {
    if (error.isEmpty()) return;
    const QString message = tr("Error: The configuration backup could not be written (%1)").arg(error);
    const QString shown = window_->statusBar()->currentMessage();
    showStatus(shown.isEmpty() ? message : shown + QStringLiteral(" — ") + message);
}

void ConfigurationPanel::exportToFile() {
    const auto file = confirmedConfigurationFile(QStringLiteral("export"));
    if (!file) {
        showStatus(
            tr("Error: The configuration was not completely read from the EFIS; "
               "load the settings before exporting"));
        return;
    }
    const QString suggested =
        QDir(QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation))
            .filePath(QStringLiteral("efis-%1-%2.json")
                          .arg(file->efis.serial.isEmpty() ? QStringLiteral("configuration") : file->efis.serial,
                               file->created.toLocalTime().toString(QStringLiteral("yyyyMMdd-HHmm"))));
    const QString path = QFileDialog::getSaveFileName(window_, tr("Export Configuration"), suggested, kFileFilter);
    if (path.isEmpty()) return;

    if (const vk61::FileWriteResult write = vk61::write_file_atomically(path, vk61::write_config_file(*file));
        !write.ok()) {
        showStatus(tr("Error: %1").arg(describe(write)));
        return;
    }
    QString status = tr("Configuration exported to %1").arg(QDir::toNativeSeparators(path));
    if (!model_.pending().empty()) {
        status += tr(" (%1 change(s) in the form were not sent to the EFIS and are not in the file)")
                      .arg(model_.pending().size());
    }
    showStatus(status);
}

void ConfigurationPanel::importFromFile() {
    const QString path = QFileDialog::getOpenFileName(window_, tr("Import Configuration"), QString(), kFileFilter);
    if (!path.isEmpty()) restoreConfigurationFrom(path);
}

void ConfigurationPanel::restoreFromBackup() {
    const std::optional<vk61::DeviceInfo> unit = primaryUnit();
    const QString serial = unit ? serialText(unit->device_id) : QString();
    const vk61::BackupStore store(vk61::BackupStore::default_root());
    const auto backups = store.list(serial);
    if (serial.isEmpty() || backups.empty()) {
        showStatus(tr("No backups of the connected EFIS yet (they are kept in %1)")
                       .arg(QDir::toNativeSeparators(store.folder(serial))));
        return;
    }
    const QString path = chooseBackup(window_, backups);
    if (!path.isEmpty()) restoreConfigurationFrom(path);
}

// The store and the reload run on the bus worker (see ConfigExchange).
void ConfigurationPanel::restoreConfigurationFrom(const QString& path) {
    const QString source = QFileInfo(path).fileName();
    QString error;
    const std::optional<vk61::ConfigFile> file = vk61::load_config_file(path, &error);
    if (!file) {
        qDebug() << "Configuration file refused:" << path << error;
        showStatus(tr("Error: %1 was not imported: %2. Nothing was sent").arg(source, error));
        QMessageBox::warning(window_, tr("Import Configuration"),
                             tr("%1 cannot be imported:\n%2\n\nNothing was sent to the EFIS.").arg(source, error));
        return;
    }
    if (!comms_ || !comms_->is_connected()) {
        showNotConnected();
        return;
    }
    if (erasedOnEfis_) {
        storeFirstConfiguration(*file, source);
        return;
    }
    // The preview compares with what the units hold; edits in the form would
    // be stored along with the file without being shown.
    if (!model_.confirmed() || model_.unknown_count() > 0) {
        showStatus(
            tr("Error: The configuration was not completely read from the EFIS; "
               "load the settings before importing. Nothing was sent"));
        return;
    }
    if (!model_.pending().empty()) {
        showStatus(tr("Error: The form holds %1 change(s) not stored on the EFIS; save them or load the settings "
                      "again before importing. Nothing was sent")
                       .arg(model_.pending().size()));
        return;
    }
    const vk61::ConfigRecord efis = *model_.confirmed();
    if (const auto refused = vk61::import_refusal(*file, &efis)) {
        qDebug() << "Configuration file refused:" << path << refused->message;
        showStatus(tr("Error: %1 was not imported: %2. Nothing was sent").arg(source, refused->message));
        QMessageBox::warning(
            window_, tr("Import Configuration"),
            tr("%1 cannot be imported:\n%2\n\nNothing was sent to the EFIS.").arg(source, refused->message));
        return;
    }
    if (vk61::changed_settings(*file, efis).empty()) {
        showStatus(tr("The EFIS already holds every setting of %1; nothing to restore").arg(source));
        return;
    }

    const auto ticked = previewConfiguration(window_, *file, &efis, source);
    if (!ticked || ticked->empty()) {
        showStatus(tr("Configuration not restored; nothing was sent"));
        return;
    }
    for (const vk61::SettingEntry* entry : *ticked) {
        for (unsigned i = 0; i < entry->index_count; ++i) {
            const unsigned index = entry->first_index + i;
            const std::uint32_t value = vk61::config_get_value(file->settings, index);
            if (value != model_.value(index)) setValue(static_cast<int>(index), value);
        }
    }
    populateForm();

    const QString backupError = backupBeforeStore(QStringLiteral("before import"));
    const auto changed = ticked->size();
    storeSettings(backupError, [this, source, changed, backupError](bool saved) {
        if (!saved) {
            populateForm();
            return;
        }
        // The reload reads back what the units hold and checks it against
        // their checksum; only then is the restore reported as done.
        load([this, source, changed, backupError](bool ok) {
            if (ok) showStatus(tr("Configuration restored from %1: %2 setting(s) changed").arg(source).arg(changed));
            showBackupError(backupError);
        });
    });
}

// An EFIS whose configuration memory is erased takes a whole file as its
// first configuration: every setting is new and every one is written, with
// the header words of the file's memory version; the store and the reload
// run on the bus worker. There is nothing on the EFIS to back up.
void ConfigurationPanel::storeFirstConfiguration(const vk61::ConfigFile& file, const QString& source) {
    if (const auto refused = firstConfigurationRefusal(file, source)) {
        qDebug() << "Configuration file refused:" << source << *refused;
        showStatus(tr("Error: %1").arg(refusedText(*refused)));
        QMessageBox::warning(window_, tr("Import Configuration"),
                             tr("%1.\n\nNothing was sent to the EFIS.").arg(*refused));
        return;
    }
    const auto all = previewConfiguration(window_, file, nullptr, source);
    if (!all) {
        showStatus(tr("Configuration not restored; nothing was sent"));
        return;
    }
    const vk61::ConfigModel before = model_;
    const vk61::ConfigRecord record = file.settings;
    const std::uint32_t memoryVersion = *file.efis.memory_version;
    auto stored = std::make_shared<StoreResult>();
    runExchange([stored, record, memoryVersion](
                    ConfigExchange& exchange) { *stored = exchange.store_first_configuration(record, memoryVersion); },
                [this, stored, before, file, source, written = all->size()] {
                    if (stored->status != StoreStatus::Saved) {
                        // Nothing on the EFIS was confirmed: the model stays erased.
                        model_ = before;
                        populateForm();
                        showStoreResult(*stored, false);
                        return;
                    }
                    // The reload reads back what the units hold and checks it against
                    // their checksum; only then is the first configuration reported.
                    load([this, file, source, written](bool ok) {
                        if (!ok) return;  // the load's status says what went wrong
                        if (!model_.confirmed() || !vk61::changed_settings(file, *model_.confirmed()).empty()) {
                            showStatus(tr("Error: The EFIS does not hold the file's settings after the store"));
                            return;
                        }
                        showStatus(firstConfigurationStoredText(source, written));
                    });
                });
}

}  // namespace vk61
