// The slots the form connects for the settings and devices tabs and the
// Configuration menu. Each hands its widget's change or click to the object
// that owns the area: the configuration panel (the model, the settings form,
// the loads and stores) or the devices tab (the table and the reboot).
#include <QComboBox>
#include <QStatusBar>

#include "configuration_panel.h"
#include "devices_tab.h"
#include "main_window.h"
#include "ui_mainwindow.h"

const vk61::ConfigModel& MainWindow::configModel() const { return configuration->model(); }

void MainWindow::refreshDeviceTable() { devices->refresh(); }

QString MainWindow::backupBeforeStore(const QString& reason) { return configuration->backupBeforeStore(reason); }
void MainWindow::showBackupError(const QString& error) { configuration->showBackupError(error); }

// ---- loads and stores ----

void MainWindow::onLoadClicked() { configuration->load(); }
void MainWindow::onUpdateClicked() { configuration->sendEdits(); }
void MainWindow::onSaveClicked() { configuration->save(); }
void MainWindow::onSaveDevicesClicked() { configuration->saveDeviceOptions(); }

void MainWindow::onExportConfigurationClicked() { configuration->exportToFile(); }
void MainWindow::onImportConfigurationClicked() { configuration->importFromFile(); }
void MainWindow::onConfigurationBackupsClicked() { configuration->restoreFromBackup(); }

// ---- the settings form: which widget edits which setting ----

void MainWindow::onSkyColor0Changed() { configuration->editColour(14); }
void MainWindow::onSkyColor1Changed() { configuration->editColour(15); }
void MainWindow::onGroundColor0Changed() { configuration->editColour(16); }
void MainWindow::onGroundColor1Changed() { configuration->editColour(17); }
void MainWindow::onApproachIndiColorChanged() { configuration->editColour(18); }
void MainWindow::onAirplaneColorChanged() { configuration->editColour(19); }
void MainWindow::onGreenArcColorChanged() { configuration->editColour(20); }
void MainWindow::onYellowArcColorChanged() { configuration->editColour(21); }
void MainWindow::onRedArcColorChanged() { configuration->editColour(22); }
void MainWindow::onGearIndiColorChanged() { configuration->editColour(23); }

void MainWindow::onUnitsChanged() { configuration->editUnits(); }

void MainWindow::onVminChanged(int value) { configuration->editWhole(1, value); }
void MainWindow::onVs0Changed(int value) { configuration->editWhole(2, value); }
void MainWindow::onVs1Changed(int value) { configuration->editWhole(3, value); }
void MainWindow::onVfeChanged(int value) { configuration->editWhole(4, value); }
void MainWindow::onVn0Changed(int value) { configuration->editWhole(5, value); }
void MainWindow::onVneChanged(int value) { configuration->editWhole(6, value); }
void MainWindow::onVrefChanged(int value) { configuration->editWhole(7, value); }
void MainWindow::onVloChanged(int value) { configuration->editWhole(8, value); }

void MainWindow::onMinVoltChanged(double value) { configuration->editVolts(9, value); }
void MainWindow::onMaxVoltChanged(double value) { configuration->editVolts(10, value); }
void MainWindow::onMinVoltAlertChanged(double value) { configuration->editVolts(27, value); }
void MainWindow::onMaxVoltAlertChanged(double value) { configuration->editVolts(28, value); }

void MainWindow::onRegistrationChanged() { configuration->editRegistration(); }
void MainWindow::onBacklightBrightnessChanged(int value) { configuration->editWhole(24, value); }
void MainWindow::onTextBgAlphaChanged(int value) { configuration->editWhole(29, value); }
void MainWindow::onRollCorrectionChanged(double value) { configuration->editDegrees(25, value); }
void MainWindow::onPitchCorrectionChanged(double value) { configuration->editDegrees(26, value); }
void MainWindow::onOwnshipIcaoChanged() { configuration->editIcaoAddress(); }
void MainWindow::onIcaoAddressTypeChanged() { configuration->editIcaoAddressType(); }
void MainWindow::onEmitterCatChanged(int index) { configuration->editWhole(33, index); }
void MainWindow::onMapViewChanged(int index) { configuration->editWhole(35, index); }

// ---- the devices tab ----

void MainWindow::onDefaultScreenChanged(int index) {
    devices->defaultScreenChosen(qobject_cast<QComboBox*>(sender()), index);
}

void MainWindow::onRebootClicked() { devices->reboot(); }

void MainWindow::onDeviceReconnected() {
    devices->refresh();
    // A load that could not read everything keeps its warning in view.
    if (configuration->load()) {
        showStatus(tr("Device reconnected"));
    } else {
        showStatus(tr("Device reconnected — %1").arg(statusBar()->currentMessage()));
    }
}

void MainWindow::onMainTabChanged(int index) {
    // Looked up for the tab bar's sake only; switching tabs changes nothing.
    (void)ui->tabWidget->widget(index);
}
