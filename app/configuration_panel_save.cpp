// Sending edited settings to the units, storing the configuration in their
// EEPROM (Save, or Save devices for the per-unit options).
#include <QDebug>
#include <QMainWindow>
#include <QMessageBox>

#include "comms_manager.h"
#include "core/store_texts.h"
#include "configuration_panel.h"
#include "result_text.h"
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
    logUpdateResult(result);
    showStatus(updateStatusText(result));
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
    logStoreResult(result, device_options);
    showStatus(storeStatusText(result, device_options));
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
