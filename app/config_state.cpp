// The window's configuration model: every edit goes through setConfigValue,
// which remembers the index until the units store it.
#include <QDebug>

#include "main_window.h"
#include "ui_mainwindow.h"

bool MainWindow::setConfigValue(int index, std::uint32_t value) {
    if (!model.edit(index, value)) {
        qDebug() << "Error setting value for index" << index;
        return false;
    }
    updateSaveDevicesButton();
    return true;
}

void MainWindow::updateSaveDevicesButton() {
    // Only the per-unit options (termination, default screens) belong to
    // the devices tab's save.
    ui->pushButton_save_devices->setEnabled(model.has_device_changes());
}

ConfigExchange MainWindow::configExchange() { return ConfigExchange(comms.get(), model, settings_.config_timeouts); }
