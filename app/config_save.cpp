// Sending edited settings to the units and storing the configuration in
// their EEPROM.
#include <QDebug>
#include <QThread>

#include <set>

#include "comms_manager.h"
#include "config/display_units.h"
#include "config/registration.h"
#include "config/setting_values.h"
#include "config_timeouts.h"
#include "debug_log.h"
#include "main_window.h"
#include "settings_form.h"
#include "ui_mainwindow.h"

namespace {

constexpr unsigned long kPauseBetweenWritesMs = 1;
constexpr unsigned kLastSettingIndex = 39;

}  // namespace

// Blocks the GUI thread for one write of up to 1000 ms per pending index,
// one at a time in ascending order, with a 1 ms pause after each.
void MainWindow::onUpdateClicked() {
    if (!comms || !comms->is_connected()) {
        qDebug() << "No communication interface connected";
        showStatus(tr("Error: No communication interface connected (USB HID or CAN FD)"));
        return;
    }
    if (pendingChanges.empty()) {
        showStatus(tr("No changes to send"));
        return;
    }

    int sent = 0;
    int failed = 0;
    const std::set<int> to_send = pendingChanges;
    for (const int index : to_send) {
        const std::uint32_t value = vk61::config_get_value(config, static_cast<unsigned>(index));
        if (comms->write_setting(static_cast<std::uint8_t>(index), value, configTimeouts().write_ms)) {
            ++sent;
        } else {
            ++failed;
            qDebug() << "Failed to send value for index" << index;
        }
        QThread::msleep(kPauseBetweenWritesMs);
    }

    // Failed indices are not retried; the status says how many there were.
    pendingChanges.clear();
    updateSaveDevicesButton();
    if (failed > 0) {
        showStatus(tr("Sent %1 value(s), %2 failed").arg(sent).arg(failed));
    } else {
        showStatus(tr("Successfully sent %1 configuration value(s) to device").arg(sent));
    }
}

// Blocks the GUI thread for two header reads (500 ms each), one write per
// changed setting (1000 ms each, 1 ms apart) and the store (5000 ms).
void MainWindow::onSaveClicked() {
    if (!comms || !comms->is_connected()) {
        qDebug() << "No communication interface connected";
        showStatus(tr("Error: No communication interface connected (USB HID or CAN FD)"));
        return;
    }

    // The device stores what it holds, under the CRC sent with the store, so
    // whatever the record holds that the device may not must be sent first:
    // the edits not yet sent and whatever collecting the form changed.
    const vk61::ConfigRecord before = config;
    collectSettingsForm();
    std::set<int> to_send = pendingChanges;
    for (unsigned index = 0; index <= kLastSettingIndex; ++index) {
        if (vk61::config_get_value(config, index) != vk61::config_get_value(before, index)) {
            to_send.insert(static_cast<int>(index));
        }
    }
    // If the save stops early, these stay to be sent later.
    auto keep_unsent = [this, &to_send] {
        pendingChanges.insert(to_send.begin(), to_send.end());
        updateSaveDevicesButton();
    };

    std::uint32_t crc = 0;
    if (!prepareHeaderForStore(&crc)) {
        keep_unsent();
        return;
    }
    vk61::debug_log("New CRC %08X\n", crc);

    for (const int index : to_send) {
        const std::uint32_t value = vk61::config_get_value(config, static_cast<unsigned>(index));
        const bool ok = comms->write_setting(static_cast<std::uint8_t>(index), value, configTimeouts().write_ms);
        QThread::msleep(kPauseBetweenWritesMs);
        if (!ok) {
            qDebug() << "Failed to send value for index" << index;
            keep_unsent();
            showStatus(tr("Error: Failed to send configuration value for index %1; nothing was stored").arg(index));
            return;
        }
    }

    if (!comms->save_user_settings(crc, configTimeouts().store_ms)) {
        qDebug() << "Error storing configuration to EEPROM";
        keep_unsent();
        showStatus(tr("Error: Failed to store configuration to EEPROM"));
        return;
    }
    pendingChanges.clear();
    updateSaveDevicesButton();
    config.set_checksum(crc);
    deviceChecksum = crc;
    populateSettingsForm();
    showStatus(tr("Configuration saved to EEPROM successfully"));
}

void MainWindow::collectSettingsForm() {
    auto store = [this](unsigned index, std::uint32_t value) { vk61::config_set_value(config, index, value); };

    for (const ColourButton& colour : kColourButtons) {
        if (const auto value = colourOfButton(ui->*colour.button)) store(colour.index, *value);
    }

    const vk61::DisplayUnits selected{ui->comboBox_airspeed->currentIndex(), ui->comboBox_altitude->currentIndex(),
                                      ui->comboBox_temp->currentIndex(), ui->comboBox_pressure->currentIndex()};
    store(0, vk61::units_word(vk61::config_get_value(config, 0), selected));

    const QSpinBox* const speeds[] = {ui->spinBox_vmin, ui->spinBox_vs0, ui->spinBox_vs1,  ui->spinBox_vfe,
                                      ui->spinBox_vn0,  ui->spinBox_vne, ui->spinBox_vref, ui->spinBox_vlo};
    for (unsigned i = 0; i < std::size(speeds); ++i) store(1 + i, static_cast<std::uint32_t>(speeds[i]->value()));

    store(9, vk61::volts_to_tenths(ui->min_volt_warn_value->value()));
    store(10, vk61::volts_to_tenths(ui->max_volt_warn_value->value()));
    store(27, vk61::volts_to_tenths(ui->min_volt_alert_value->value()));
    store(28, vk61::volts_to_tenths(ui->max_volt_alert_value->value()));

    // A stored registration the form cannot spell (no known prefix, or more
    // than the number field shows) stays as it is unless the user edited it:
    // joining "N" with what the form shows would change it on the device.
    if (!formShowsRegistration(*ui, vk61::registration_of(config))) {
        const auto words = vk61::registration_words(registrationOfForm(*ui));
        for (unsigned i = 0; i < words.size(); ++i) store(vk61::kIndexRegistrationFirst + i, words[i]);
    }

    store(24, static_cast<std::uint32_t>(ui->backlight_slider->value()));
    store(29, static_cast<std::uint32_t>(ui->text_bg_alpha_slider->value()));
    store(25, vk61::float_setting(ui->roll_corr_spinbox->value()));
    store(26, vk61::float_setting(ui->pitch_corr_spinbox->value()));
    store(31, parseIcaoAddress());
    store(32, ui->radioButton_rand_icao->isChecked() ? 1u : 0u);
    store(33, static_cast<std::uint32_t>(ui->comboBox_emitter_cat->currentIndex()));
    store(35, static_cast<std::uint32_t>(ui->comboBox_map_view->currentIndex()));
}
