// The devices tab's two actions: storing the per-unit options on the units,
// and rebooting the units and waiting for them to come back.
#include <QDebug>
#include <QTimer>

#include <algorithm>
#include <set>

#include "comms_manager.h"
#include "config_timeouts.h"
#include "main_window.h"
#include "ui_mainwindow.h"
#include "window_testing_hooks.h"

namespace {

constexpr int kDefaultFirstRebootCheckMs = 3000;
constexpr int kDefaultNextRebootCheckMs = 1000;
constexpr int kLastRebootAttempt = 59;  // 60 checks in all

// The per-unit options edited in the devices table.
bool isDeviceOption(int index) {
    return index == static_cast<int>(vk61::kIndexTerminationMask) ||
           (index >= static_cast<int>(vk61::kIndexDefaultScreenFirst) &&
            index <= static_cast<int>(vk61::kIndexDefaultScreenLast));
}

int g_first_reboot_check_ms = kDefaultFirstRebootCheckMs;
int g_next_reboot_check_ms = kDefaultNextRebootCheckMs;

}  // namespace

void setRebootWaitIntervalsForTesting(int first_check_ms, int next_check_ms) {
    g_first_reboot_check_ms = first_check_ms > 0 ? first_check_ms : kDefaultFirstRebootCheckMs;
    g_next_reboot_check_ms = next_check_ms > 0 ? next_check_ms : kDefaultNextRebootCheckMs;
}

void MainWindow::onSaveDevicesClicked() {
    if (!comms || !comms->is_connected()) {
        qDebug() << "No communication interface connected";
        showStatus(tr("Error: No communication interface connected (USB HID or CAN FD)"));
        return;
    }
    const bool has_device_changes = std::any_of(pendingChanges.begin(), pendingChanges.end(), isDeviceOption);
    if (!has_device_changes) {
        showStatus(tr("No device changes to save"));
        return;
    }

    // Reads memory_version and num_elements, sets the checksum word to 0
    // and the magic, and gives the CRC of the record as it now stands. The
    // writes below send values already in the record, so it stays valid.
    std::uint32_t crc = 0;
    if (!prepareHeaderForStore(&crc)) return;

    if (pendingChanges.count(vk61::kIndexTerminationMask) > 0 &&
        !comms->write_setting(vk61::kIndexTerminationMask,
                              vk61::config_get_value(config, vk61::kIndexTerminationMask), configTimeouts().write_ms)) {
        qDebug() << "Error sending termination resistor value to device";
        showStatus(tr("Error: Failed to send termination setting to device"));
        return;
    }
    for (unsigned index = vk61::kIndexDefaultScreenFirst; index <= vk61::kIndexDefaultScreenLast; ++index) {
        if (pendingChanges.count(static_cast<int>(index)) == 0) continue;
        if (!comms->write_setting(static_cast<std::uint8_t>(index), vk61::config_get_value(config, index),
                                  configTimeouts().write_ms)) {
            qDebug() << "Error sending default screen value for index" << index;
            showStatus(tr("Error: Failed to send default screen setting to device"));
            return;
        }
    }

    // The store's CRC covers the whole record, so settings edited on the
    // Settings tab and not yet sent must reach the units first; otherwise
    // they would store their old values under a CRC that does not match.
    std::set<int> sent_here;
    for (const int index : pendingChanges) {
        if (isDeviceOption(index)) continue;
        if (!comms->write_setting(static_cast<std::uint8_t>(index),
                                  vk61::config_get_value(config, static_cast<unsigned>(index)),
                                  configTimeouts().write_ms)) {
            qDebug() << "Failed to send value for index" << index;
            showStatus(tr("Error: Failed to send configuration value for index %1; nothing was stored").arg(index));
            return;
        }
        sent_here.insert(index);
    }

    if (!comms->save_user_settings(crc, configTimeouts().store_ms)) {
        qDebug() << "Error storing device configuration to EEPROM";
        showStatus(tr("Error: Failed to store device settings to EEPROM"));
        return;
    }
    std::erase_if(pendingChanges, [&sent_here](int index) { return isDeviceOption(index) || sent_here.count(index); });
    updateSaveDevicesButton();
    config.set_checksum(crc);
    deviceChecksum = crc;
    showStatus(tr("Device settings saved to EEPROM successfully"));
}

void MainWindow::onRebootClicked() {
    if (!comms || !comms->is_connected()) {
        qDebug() << "No communication interface connected";
        showStatus(tr("Error: No communication interface connected (USB HID or CAN FD)"));
        return;
    }
    if (!comms->reboot_devices()) {
        qDebug() << "Failed to send reboot command";
        showStatus(tr("Error: Failed to send reboot command"));
        return;
    }
    QTimer::singleShot(g_first_reboot_check_ms, this, [this] { waitForDevicesAfterReboot(0); });
    qDebug() << "Reboot command sent successfully";
    showStatus(tr("Reboot sent — waiting for device to reconnect"));
}

void MainWindow::waitForDevicesAfterReboot(int attempt) {
    if (!comms) {
        showStatus(tr("Devices did not reappear after reboot"));
        return;
    }
    if (comms->is_connected()) {
        comms->rediscover();
        refreshDeviceTable();
        const std::vector<vk61::DeviceInfo> units = comms->device_snapshot();
        if (std::any_of(units.begin(), units.end(), [](const vk61::DeviceInfo& unit) { return unit.alive; })) {
            onDeviceReconnected();
            return;
        }
    }
    if (attempt < kLastRebootAttempt) {
        QTimer::singleShot(g_next_reboot_check_ms, this, [this, attempt] { waitForDevicesAfterReboot(attempt + 1); });
    } else {
        showStatus(tr("Devices did not reappear after reboot"));
    }
}

void MainWindow::onDeviceReconnected() {
    refreshDeviceTable();
    onLoadClicked();
    showStatus(tr("Device reconnected"));
}
