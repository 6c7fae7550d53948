// The slots of the settings and devices tabs' actions and the Configuration
// menu. Each hands its click to the object that owns the area: the
// configuration panel (the model, the settings form and its edits, the loads
// and stores) or the devices tab (the table and the reboot).
#include <QStatusBar>

#include "bus_worker.h"
#include "configuration_panel.h"
#include "devices_tab.h"
#include "main_window.h"
#include "ui_mainwindow.h"

namespace vk61 {

const vk61::ConfigModel& MainWindow::configModel() const { return configuration_->model(); }

void MainWindow::refreshDeviceTable() { devices_->refresh(); }

QString MainWindow::backupBeforeStore(const QString& reason, QString* path) {
    return configuration_->backupBeforeStore(reason, path);
}
void MainWindow::showBackupError(const QString& error) { configuration_->showBackupError(error); }

// ---- loads and stores ----

void MainWindow::onLoadClicked() { configuration_->load(); }
void MainWindow::onUpdateClicked() { configuration_->sendEdits(); }
void MainWindow::onSaveClicked() { configuration_->save(); }
void MainWindow::onSaveDevicesClicked() { configuration_->saveDeviceOptions(); }

void MainWindow::onExportConfigurationClicked() { configuration_->exportToFile(); }
void MainWindow::onImportConfigurationClicked() { configuration_->importFromFile(); }
void MainWindow::onConfigurationBackupsClicked() { configuration_->restoreFromBackup(); }

// ---- the devices tab ----

void MainWindow::onRebootClicked() { devices_->reboot(); }

void MainWindow::onDeviceReconnected() {
    if (busWorker_->busy()) {
        reloadWhenIdle_ = true;
        return;
    }
    devices_->refresh();
    // A load that could not read everything keeps its warning in view.
    configuration_->load([this](bool ok) {
        if (ok) {
            showStatus(tr("Device reconnected"));
        } else {
            showStatus(tr("Device reconnected — %1").arg(statusBar()->currentMessage()));
        }
    });
}

void MainWindow::rebootAndCheckConfiguration(const QString& backup, std::uint32_t units) {
    devices_->reboot(units, [this, backup] {
        devices_->refresh();
        // The reload runs on the bus worker like every load; its status
        // says what could not be read, and then nothing is compared.
        configuration_->load([this, backup](bool ok) {
            if (!ok) {
                showStatus(tr("Configuration not compared after the update — %1").arg(statusBar()->currentMessage()));
                return;
            }
            configuration_->compareWithBackup(backup);
        });
    });
}

void MainWindow::onMainTabChanged(int index) {
    // Looked up for the tab bar's sake only; switching tabs changes nothing.
    (void)ui_->tabWidget->widget(index);
}

}  // namespace vk61
