// The Configuration menu: exporting the EFIS configuration to a file,
// restoring one from a file or from an automatic backup after a preview, and
// the automatic backup taken before every store and firmware update.
//
// Everything here runs on the GUI thread; the restore blocks it for the
// store and the reload, like Save and Load do.
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QSaveFile>
#include <QStandardPaths>
#include <QStatusBar>

#include "comms_manager.h"
#include "config/backup_store.h"
#include "config/config_file.h"
#include "config_preview.h"
#include "configuration_snapshot.h"
#include "device_text.h"
#include "main_window.h"
#include "ui_mainwindow.h"

#ifndef VK61_VERSION
#define VK61_VERSION "unknown"
#endif

namespace {

const QString kFileFilter = QStringLiteral("EFIS Configuration (*.json);;All Files (*)");

}  // namespace

std::optional<vk61::DeviceInfo> MainWindow::primaryUnit() const {
    if (!comms) return std::nullopt;
    return ::primaryUnit(*comms);
}

QString MainWindow::efisSerial() const {
    const std::optional<vk61::DeviceInfo> unit = primaryUnit();
    return unit ? serialText(unit->device_id) : QString();
}

std::optional<vk61::ConfigFile> MainWindow::confirmedConfigurationFile(const QString& reason) const {
    return ::confirmedConfigurationFile(model, primaryUnit(), QStringLiteral("vk61-efis-config " VK61_VERSION),
                                        reason);
}

QString MainWindow::backupBeforeStore(const QString& reason) {
    // With settings unknown there is nothing complete to keep; a store is
    // refused then anyway.
    const auto file = confirmedConfigurationFile(reason);
    if (!file) return {};
    const vk61::BackupStore::Result result = vk61::BackupStore(vk61::BackupStore::default_root()).save(*file);
    switch (result.outcome) {
    case vk61::BackupStore::Outcome::Written: qDebug() << "Configuration backup written:" << result.path; return {};
    case vk61::BackupStore::Outcome::SkippedIdentical: return {};
    case vk61::BackupStore::Outcome::Failed: break;
    }
    qWarning() << "Configuration backup failed:" << result.error;
    return result.error;
}

void MainWindow::showBackupError(const QString& error) {
    if (error.isEmpty()) return;
    const QString message = tr("Error: The configuration backup could not be written (%1)").arg(error);
    const QString shown = statusBar()->currentMessage();
    showStatus(shown.isEmpty() ? message : shown + QStringLiteral(" — ") + message);
}

void MainWindow::onExportConfigurationClicked() {
    const auto file = confirmedConfigurationFile(QStringLiteral("export"));
    if (!file) {
        showStatus(tr("Error: The configuration was not completely read from the EFIS; "
                      "load the settings before exporting"));
        return;
    }
    const QString suggested = QDir(QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation))
                                  .filePath(QStringLiteral("efis-%1-%2.json")
                                                .arg(file->efis.serial.isEmpty() ? QStringLiteral("configuration")
                                                                                 : file->efis.serial,
                                                     file->created.toLocalTime().toString(QStringLiteral("yyyyMMdd-HHmm"))));
    const QString path = QFileDialog::getSaveFileName(this, tr("Export Configuration"), suggested, kFileFilter);
    if (path.isEmpty()) return;

    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly) || out.write(vk61::write_config_file(*file)) < 0 || !out.commit()) {
        showStatus(tr("Error: Could not write %1: %2").arg(QDir::toNativeSeparators(path), out.errorString()));
        return;
    }
    QString status = tr("Configuration exported to %1").arg(QDir::toNativeSeparators(path));
    if (!model.pending().empty()) {
        status += tr(" (%1 change(s) in the form were not sent to the EFIS and are not in the file)")
                      .arg(model.pending().size());
    }
    showStatus(status);
}

void MainWindow::onImportConfigurationClicked() {
    const QString path = QFileDialog::getOpenFileName(this, tr("Import Configuration"), QString(), kFileFilter);
    if (!path.isEmpty()) restoreConfigurationFrom(path);
}

void MainWindow::onConfigurationBackupsClicked() {
    const QString serial = efisSerial();
    const vk61::BackupStore store(vk61::BackupStore::default_root());
    const auto backups = store.list(serial);
    if (serial.isEmpty() || backups.empty()) {
        showStatus(tr("No backups of the connected EFIS yet (they are kept in %1)")
                       .arg(QDir::toNativeSeparators(store.folder(serial))));
        return;
    }
    const QString path = chooseBackup(this, backups);
    if (!path.isEmpty()) restoreConfigurationFrom(path);
}

// Blocks the GUI thread for the store and the reload (see ConfigExchange).
void MainWindow::restoreConfigurationFrom(const QString& path) {
    const QString source = QFileInfo(path).fileName();
    QFile in(path);
    QString error;
    std::optional<vk61::ConfigFile> file;
    if (!in.open(QIODevice::ReadOnly)) {
        error = in.errorString();
    } else {
        file = vk61::read_config_file(in.readAll(), &error);
    }
    if (!file) {
        qDebug() << "Configuration file refused:" << path << error;
        showStatus(tr("Error: %1 was not imported: %2. Nothing was sent").arg(source, error));
        QMessageBox::warning(this, tr("Import Configuration"),
                             tr("%1 cannot be imported:\n%2\n\nNothing was sent to the EFIS.").arg(source, error));
        return;
    }
    if (!comms || !comms->is_connected()) {
        qDebug() << "No communication interface connected";
        showStatus(tr("Error: No communication interface connected (USB HID or CAN FD)"));
        return;
    }
    // The preview compares with what the units hold; edits in the form would
    // be stored along with the file without being shown.
    if (!model.confirmed() || model.unknown_count() > 0) {
        showStatus(tr("Error: The configuration was not completely read from the EFIS; "
                      "load the settings before importing. Nothing was sent"));
        return;
    }
    if (!model.pending().empty()) {
        showStatus(tr("Error: The form holds %1 change(s) not stored on the EFIS; save them or load the settings "
                      "again before importing. Nothing was sent")
                       .arg(model.pending().size()));
        return;
    }
    const vk61::ConfigRecord efis = *model.confirmed();
    if (vk61::changed_settings(*file, efis).empty()) {
        showStatus(tr("The EFIS already holds every setting of %1; nothing to restore").arg(source));
        return;
    }

    const auto ticked = previewConfiguration(this, *file, efis, source);
    if (!ticked || ticked->empty()) {
        showStatus(tr("Configuration not restored; nothing was sent"));
        return;
    }
    for (const vk61::SettingEntry* entry : *ticked) {
        for (unsigned i = 0; i < entry->index_count; ++i) {
            const unsigned index = entry->first_index + i;
            const std::uint32_t value = vk61::config_get_value(file->settings, index);
            if (value != model.value(index)) setConfigValue(static_cast<int>(index), value);
        }
    }
    populateSettingsForm();

    const QString backupError = backupBeforeStore(QStringLiteral("before import"));
    const StoreResult stored = configExchange().save_settings();
    updateSaveDevicesButton();
    if (stored.status != StoreStatus::Saved) {
        populateSettingsForm();
        showStoreResult(stored, false);
        showBackupError(backupError);
        return;
    }
    // The reload reads back what the units hold and checks it against their
    // checksum; only then is the restore reported as done.
    if (loadConfiguration()) {
        showStatus(tr("Configuration restored from %1: %2 setting(s) changed").arg(source).arg(ticked->size()));
    }
    showBackupError(backupError);
}
