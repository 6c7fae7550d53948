// The window's configuration image: every edit goes through setConfigValue,
// which remembers the index until it is sent or stored, and every store to
// EEPROM starts with the same header preparation.
#include <QDebug>

#include "comms_manager.h"
#include "config_timeouts.h"
#include "main_window.h"
#include "ui_mainwindow.h"

bool MainWindow::setConfigValue(int index, std::uint32_t value) {
    if (index < 0 || !vk61::config_set_value(config, static_cast<unsigned>(index), value)) {
        qDebug() << "Error setting value for index" << index;
        return false;
    }
    pendingChanges.insert(index);
    updateSaveDevicesButton();
    return true;
}

void MainWindow::updateSaveDevicesButton() {
    // Only the per-unit options (termination, default screens) belong to
    // the devices tab's save.
    const bool device_changes =
        pendingChanges.count(static_cast<int>(vk61::kIndexTerminationMask)) > 0 ||
        pendingChanges.lower_bound(static_cast<int>(vk61::kIndexDefaultScreenFirst)) !=
            pendingChanges.upper_bound(static_cast<int>(vk61::kIndexDefaultScreenLast));
    ui->pushButton_save_devices->setEnabled(device_changes);
}

// Blocks for up to two setting reads of 500 ms each (configTimeouts()). The
// caller has checked that comms is connected. On failure the messages are
// shown and the record keeps what was read so far.
bool MainWindow::prepareHeaderForStore(std::uint32_t* crc_out) {
    const std::int32_t memory_version = comms->read_setting(vk61::kIndexMemoryVersion, configTimeouts().read_ms);
    if (memory_version == -1) {
        qDebug() << "Error reading memory version value";
        showStatus(tr("Error: Failed to read memory version from device"));
        return false;
    }
    config.set_memory_version(static_cast<std::uint32_t>(memory_version));

    const std::int32_t num_elements = comms->read_setting(vk61::kIndexNumElements, configTimeouts().read_ms);
    if (num_elements == -1) {
        qDebug() << "Error reading num_elements value";
        showStatus(tr("Error: Failed to read num_elements from device"));
        return false;
    }
    config.set_num_elements(static_cast<std::uint32_t>(num_elements));

    // With the checksum word 0 the record never counts as blank, so this is
    // always the plain CRC of the covered words.
    config.set_checksum(0);
    config.set_magic(vk61::ConfigRecord::kMagic);
    *crc_out = vk61::config_crc(config);
    return true;
}
