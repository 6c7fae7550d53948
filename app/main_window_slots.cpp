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

const vk61::ConfigModel& MainWindow::configModel() const { return configuration->model(); }

void MainWindow::refreshDeviceTable() { devices->refresh(); }

QString MainWindow::backupBeforeStore(const QString& reason, QString* path) {
    return configuration->backupBeforeStore(reason, path);
}
void MainWindow::showBackupError(const QString& error) { configuration->showBackupError(error); }

// ---- loads and stores ----

void MainWindow::onLoadClicked() { configuration->load(); }
void MainWindow::onUpdateClicked() { configuration->sendEdits(); }
void MainWindow::onSaveClicked() { configuration->save(); }
void MainWindow::onSaveDevicesClicked() { configuration->saveDeviceOptions(); }

void MainWindow::onExportConfigurationClicked() { configuration->exportToFile(); }
void MainWindow::onImportConfigurationClicked() { configuration->importFromFile(); }
void MainWindow::onConfigurationBackupsClicked() { configuration->restoreFromBackup(); }

// ---- the devices tab ----

void MainWindow::onRebootClicked() { devices->reboot(); }

void MainWindow::onDeviceReconnected() {
    if (busWorker->busy()) {
        reloadWhenIdle = true;
        return;
    }
    devices->refresh();
    // A load that could not read everything keeps its warning in view.
    configuration->load([this](bool ok) {
        if (ok) {
            showStatus(tr("Device reconnected"));
        } else {
            showStatus(tr("Device reconnected — %1").arg(statusBar()->currentMessage()));
        }
    });
}

void MainWindow::rebootAndCheckConfiguration(const QString& backup, std::uint32_t units) {
    devices->reboot(units, [this, backup] {
        devices->refresh();
        // The reload runs on the bus worker like every load; its status
        // says what could not be read, and then nothing is compared.
        configuration->load([this, backup](bool ok) {
            if (!ok) {
                showStatus(tr("Configuration not compared after the update — %1").arg(statusBar()->currentMessage()));
                return;
            }
            configuration->compareWithBackup(backup);
        });
    });
}

void MainWindow::onMainTabChanged(int index) {
    // Looked up for the tab bar's sake only; switching tabs changes nothing.
    (void)ui->tabWidget->widget(index);
}
