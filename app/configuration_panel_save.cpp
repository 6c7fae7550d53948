// Sending edited settings to the units, storing the configuration in their
// EEPROM (Save, or Save devices for the per-unit options), and collecting
// the form before a store.
#include <QDebug>

#include "comms_manager.h"
#include "core/store_texts.h"
#include "config/display_units.h"
#include "config/registration.h"
#include "config/setting_values.h"
#include "configuration_panel.h"
#include "settings_form.h"
#include "ui_mainwindow.h"

void ConfigurationPanel::sendEdits() {
    const UpdateResult result = exchange().update();
    updateDeviceOptionsPending();
    switch (result.status) {
    case UpdateStatus::NotConnected:
        showNotConnected();
        return;
    case UpdateStatus::RuleRefused:
        qDebug() << "Not sending:" << result.refusal;
        showStatus(tr("Error: %1. Nothing was sent").arg(result.refusal));
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

// Blocks the GUI thread for two header reads, one write per pending setting,
// the store and the read-back of the checksum (see ConfigExchange).
void ConfigurationPanel::save() {
    // The form is collected only when a store may follow: with a setting
    // unknown the save is refused before anything changes.
    if (comms_ && comms_->is_connected() && model_.unknown_count() == 0) collectForm();
    const QString backupError = comms_ && comms_->is_connected() ? backupBeforeStore(QStringLiteral("before Save")) : QString();
    const StoreResult result = exchange().save_settings();
    updateDeviceOptionsPending();
    if (result.status == StoreStatus::Saved) populateForm();
    showStoreResult(result, false);
    showBackupError(backupError);
}

// Blocks the GUI thread for two header reads, the writes of the pending
// options (and of other pending settings), the store and the read-back of
// the checksum (see ConfigExchange).
void ConfigurationPanel::saveDeviceOptions() {
    const QString backupError = comms_ && comms_->is_connected() && model_.has_device_changes()
                                    ? backupBeforeStore(QStringLiteral("before Save changes to EFIS"))
                                    : QString();
    const StoreResult result = exchange().save_device_options();
    updateDeviceOptionsPending();
    showStoreResult(result, true);
    showBackupError(backupError);
}

void ConfigurationPanel::showStoreResult(const StoreResult& result, bool device_options) {
    switch (result.status) {
    case StoreStatus::NotConnected:
        showNotConnected();
        return;
    case StoreStatus::NoDeviceChanges: showStatus(tr("No device changes to save")); return;
    case StoreStatus::UnknownSettings:
        qDebug() << "Not storing:" << result.unknown << "setting(s) were not read";
        showStatus(tr("Error: %1 setting(s) were not read from the EFIS; load the settings again before saving. "
                      "Nothing was sent")
                       .arg(result.unknown));
        return;
    case StoreStatus::RuleRefused:
        qDebug() << "Not storing:" << result.refusal;
        showStatus(tr("Error: %1. Nothing was sent").arg(result.refusal));
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
        if (const QString writeBack = writeBackText(result); !writeBack.isEmpty()) text += QStringLiteral(" — ") + writeBack;
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
        showStatus(tr("Error: The EFIS did not report its checksum after the store; "
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

void ConfigurationPanel::collectForm() {
    // Unknown settings are left alone by the model.
    auto store = [this](unsigned index, std::uint32_t value) { model_.collect(index, value); };

    for (const ColourButton& colour : kColourButtons) {
        if (const auto value = colourOfButton(ui_.*colour.button)) store(colour.index, *value);
    }

    store(0, vk61::units_word(model_.value(0), unitsOfForm(ui_)));

    const QSpinBox* const speeds[] = {ui_.spinBox_vmin, ui_.spinBox_vs0, ui_.spinBox_vs1,  ui_.spinBox_vfe,
                                      ui_.spinBox_vn0,  ui_.spinBox_vne, ui_.spinBox_vref, ui_.spinBox_vlo};
    for (unsigned i = 0; i < std::size(speeds); ++i) store(1 + i, static_cast<std::uint32_t>(speeds[i]->value()));

    store(9, vk61::volts_to_tenths(ui_.min_volt_warn_value->value()));
    store(10, vk61::volts_to_tenths(ui_.max_volt_warn_value->value()));
    store(27, vk61::volts_to_tenths(ui_.min_volt_alert_value->value()));
    store(28, vk61::volts_to_tenths(ui_.max_volt_alert_value->value()));

    // A stored registration the form cannot spell (no known prefix, or more
    // than the number field shows) stays as it is unless the user edited it:
    // joining "N" with what the form shows would change it on the device.
    if (!formShowsRegistration(ui_, vk61::registration_of(model_.record()))) {
        const auto words = vk61::registration_words(registrationOfForm(ui_));
        for (unsigned i = 0; i < words.size(); ++i) store(vk61::kIndexRegistrationFirst + i, words[i]);
    }

    store(24, static_cast<std::uint32_t>(ui_.backlight_slider->value()));
    store(29, static_cast<std::uint32_t>(ui_.text_bg_alpha_slider->value()));
    store(25, vk61::float_setting(ui_.roll_corr_spinbox->value()));
    store(26, vk61::float_setting(ui_.pitch_corr_spinbox->value()));
    store(31, icaoAddressOfForm(ui_));
    store(32, ui_.radioButton_rand_icao->isChecked() ? 1u : 0u);
    store(33, static_cast<std::uint32_t>(ui_.comboBox_emitter_cat->currentIndex()));
    store(35, static_cast<std::uint32_t>(ui_.comboBox_map_view->currentIndex()));
}
