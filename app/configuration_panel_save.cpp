// Sending edited settings to the units, storing the configuration in their
// EEPROM (Save, or Save devices for the per-unit options).
#include <QDebug>
#include <QMainWindow>
#include <QMessageBox>

#include "comms_manager.h"
#include "core/store_texts.h"
#include "config/setting_values.h"
#include "configuration_panel.h"
#include "ui_mainwindow.h"

namespace vk61 {

// The writes run on the bus worker (see ConfigExchange::update).
void ConfigurationPanel::sendEdits() {
    if (!comms_ || !comms_->is_connected()) {
        showNotConnected();
        return;
    }
    auto sent = std::make_shared<UpdateResult>();
    runExchange([sent](ConfigExchange& exchange) { *sent = exchange.update(); },
                [this, sent] { showUpdateResult(*sent); });
}

void ConfigurationPanel::showUpdateResult(const UpdateResult& result) {
    switch (result.status) {
    case UpdateStatus::NotConnected: showNotConnected(); return;
    case UpdateStatus::RuleRefused:
        qDebug() << "Not sending:" << result.refusal;
        showStatus(tr("Error: %1").arg(refusedText(result.refusal)));
        return;
    case UpdateStatus::NothingPending: showStatus(tr("No changes to send")); return;
    case UpdateStatus::Sent: break;
    }
    if (result.failed > 0) {
        showStatus(tr("Sent %1 value(s), %2 failed").arg(result.sent).arg(result.failed));
    } else {
        showStatus(tr("Successfully sent %1 configuration value(s) to device").arg(result.sent));
    }
}

// Two header reads, one write per pending setting, the store and the
// read-back of the checksum, on the bus worker (see ConfigExchange).
void ConfigurationPanel::save() {
    if (!comms_ || !comms_->is_connected()) {
        showNotConnected();
        return;
    }
    // Only what the user edited is stored besides what the EFIS holds: the
    // edits are in the model already, and no widget's range or rounding may
    // change a setting nobody touched.
    if (!confirmStoringUnstoredValues()) return;
    storeSettings(backupBeforeStore(QStringLiteral("before Save")));
}

void ConfigurationPanel::storeSettings(const QString& backupError, std::function<void(bool)> then) {
    auto stored = std::make_shared<StoreResult>();
    runExchange([stored](ConfigExchange& exchange) { *stored = exchange.save_settings(); },
                [this, stored, backupError, then = std::move(then)] {
                    if (stored->status == StoreStatus::Saved) {
                        unstoredOnEfis_ = false;
                        populateForm();
                    }
                    showStoreResult(*stored, false);
                    showBackupError(backupError);
                    if (then) then(stored->status == StoreStatus::Saved);
                });
}

// The same exchange as Save with the per-unit options first, on the bus
// worker (see ConfigExchange).
void ConfigurationPanel::saveDeviceOptions() {
    if (!comms_ || !comms_->is_connected()) {
        showNotConnected();
        return;
    }
    if (model_.has_device_changes() && !confirmStoringUnstoredValues()) return;
    const QString backupError =
        model_.has_device_changes() ? backupBeforeStore(QStringLiteral("before Save changes to EFIS")) : QString();
    auto stored = std::make_shared<StoreResult>();
    runExchange([stored](ConfigExchange& exchange) { *stored = exchange.save_device_options(); },
                [this, stored, backupError] {
                    if (stored->status == StoreStatus::Saved) unstoredOnEfis_ = false;
                    showStoreResult(*stored, true);
                    showBackupError(backupError);
                });
}

void ConfigurationPanel::showStoreResult(const StoreResult& result, bool device_options) {
    switch (result.status) {
    case StoreStatus::NotConnected: showNotConnected(); return;
    case StoreStatus::NoDeviceChanges: showStatus(tr("No device changes to save")); return;
    case StoreStatus::UnknownSettings:
        qDebug() << "Not storing:" << result.unknown << "setting(s) were not read";
        showStatus(tr("Error: %1 setting(s) were not read from the EFIS; load the settings again before saving. "
                      "Nothing was sent")
                       .arg(result.unknown));
        return;
    case StoreStatus::RuleRefused:
        qDebug() << "Not storing:" << result.refusal;
        showStatus(tr("Error: %1").arg(refusedText(result.refusal)));
        return;
    case StoreStatus::MemoryVersionUnread:
        qDebug() << "Error reading memory version value";
        showStatus(tr("Error: Failed to read memory version from device"));
        return;
    case StoreStatus::NumElementsUnread:
        qDebug() << "Error reading num_elements value";
        showStatus(tr("Error: Failed to read num_elements from device"));
        return;
    case StoreStatus::WriteFailed: {
        QString text;
        if (device_options && result.index == static_cast<int>(vk61::kIndexTerminationMask)) {
            qDebug() << "Error sending termination resistor value to device";
            text = tr("Error: Failed to send termination setting to device");
        } else if (device_options && vk61::is_device_option(result.index)) {
            qDebug() << "Error sending default screen value for index" << result.index;
            text = tr("Error: Failed to send default screen setting to device");
        } else {
            qDebug() << "Failed to send value for index" << result.index;
            text = tr("Error: Failed to send configuration value for index %1; nothing was stored").arg(result.index);
        }
        // What was undone follows the fixed text.
        if (const QString writeBack = writeBackText(result); !writeBack.isEmpty())
            text += QStringLiteral(" — ") + writeBack;
        showStatus(text);
        return;
    }
    case StoreStatus::StoreFailed:
        if (device_options) {
            qDebug() << "Error storing device configuration to EEPROM";
            showStatus(tr("Error: Failed to store device settings to EEPROM"));
        } else {
            qDebug() << "Error storing configuration to EEPROM";
            showStatus(tr("Error: Failed to store configuration to EEPROM"));
        }
        return;
    case StoreStatus::ChecksumUnread:
        qDebug() << "Could not read the checksum back after the store";
        showStatus(
            tr("Error: The EFIS did not report its checksum after the store; "
               "the configuration is not confirmed as saved"));
        return;
    case StoreStatus::ChecksumMismatch: {
        const QString held = QStringLiteral("%1").arg(result.read_back, 8, 16, QLatin1Char('0')).toUpper();
        const QString sent = QStringLiteral("%1").arg(result.crc, 8, 16, QLatin1Char('0')).toUpper();
        qDebug() << "Stored checksum mismatch: EFIS holds" << held << "sent" << sent;
        showStatus(tr("Error: The EFIS holds checksum 0x%1 after the store, not 0x%2; "
                      "the configuration is not confirmed as saved")
                       .arg(held, sent));
        return;
    }
    case StoreStatus::Saved:
        showStatus(device_options ? tr("Device settings saved to EEPROM successfully")
                                  : tr("Configuration saved to EEPROM successfully"));
        return;
    }
}

bool ConfigurationPanel::confirmStoringUnstoredValues() {
    // With settings unknown the store is refused anyway, and says why.
    if (!unstoredOnEfis_ || model_.unknown_count() > 0) return true;
    QMessageBox box(QMessageBox::Question, tr("Save settings to EFIS"),
                    unstoredValuesText() + QStringLiteral(".\n\n") + tr("Store them along with your changes?"),
                    QMessageBox::Save | QMessageBox::Cancel, window_);
    box.setObjectName(QStringLiteral("messageBox_unstored_values"));
    box.setDefaultButton(QMessageBox::Cancel);
    if (box.exec() == QMessageBox::Save) return true;
    qDebug() << "Save cancelled: the EFIS holds unstored working values";
    showStatus(tr("Nothing was stored: the EFIS keeps its working values unstored (a reboot discards them)"));
    return false;
}

}  // namespace vk61
