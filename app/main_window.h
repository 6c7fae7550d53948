// The single window of the tool: four tabs (devices, settings, device
// updates, calibrations - the last one hidden), the status bar, and the
// bus manager it creates once the event loop runs.
//
// The window owns the widgets, the manager and the wiring. Its slots are the
// ones the form connects; the settings form and the configuration model
// belong to a ConfigurationPanel and the devices table to a DevicesTab, and
// the slots of those areas hand their work over.
//
// Everything here runs on the GUI thread, which never waits for the bus:
// the configuration exchanges and the reboot wait run on the window's bus
// worker, one at a time, and the transfers on workers of their own. Their
// outcomes, and work from the manager's receive thread, reach the window
// only as queued calls.
#pragma once

#include <QList>
#include <QMainWindow>
#include <QPointer>
#include <QString>
#include <QThread>

#include <cstdint>
#include <memory>
#include <optional>
#include <set>

#include "config/config_file.h"
#include "config/config_model.h"
#include "config/config_record.h"
#include "core/config_exchange.h"
#include "device_info.h"
#include "downloads/firmware_package.h"
#include "window_settings.h"

class Ui_MainWindow;

namespace vk61 {

class BusWorker;
class ConfigurationPanel;
class DevicesTab;
class UpdateTab;
class CommsManager;
class ManifestService;

class MainWindow : public QMainWindow {
    Q_OBJECT

public:
    // The product runs with WindowSettings{}; tests and the demo pass their own.
    explicit MainWindow(const WindowSettings& settings = {}, QWidget* parent = nullptr);
    ~MainWindow() override;

    // Read access for tests and for the window's own helpers.
    const vk61::ConfigRecord& configRecord() const { return configModel().record(); }
    std::uint32_t deviceChecksumValue() const { return configModel().device_checksum(); }
    const std::set<int>& pendingChangeSet() const { return configModel().pending(); }
    const vk61::ConfigModel& configModel() const;
    vk61::CommsManager* commsManager() const { return comms_.get(); }
    const WindowSettings& settings() const { return settings_; }
    // The downloads manifest and its firmware packages, as this window has them.
    vk61::ManifestService& manifestService() const { return *manifests_; }
    // True while a fetch button's flow waits for the network.
    bool fetchInProgress() const;
    // True while a configuration exchange or the reboot wait runs.
    bool busExchangeRunning() const;

    // Rebuilds the devices table from the registry (GUI thread).
    void refreshDeviceTable();

protected:
    void closeEvent(QCloseEvent* event) override;

private slots:
    void onSaveClicked();
    void onLoadClicked();
    void onBrowseClicked();
    void onFetchFwClicked();
    void onStartUpdateClicked();
    void onBrowseAirportsClicked();
    void onFetchAptDbClicked();
    void onStartAirportClicked();

    void onSaveDevicesClicked();
    void onUpdateClicked();
    void onRebootClicked();
    void onDeviceReconnected();
    void onMainTabChanged(int index);
    void onExportConfigurationClicked();
    void onImportConfigurationClicked();
    void onConfigurationBackupsClicked();

private:
    // main_window.cpp
    void connectSlots();
    void initializeDeviceConnection();
    void connectToBus();
    // Disables what would start another exchange while one runs.
    void showBusExchangeRunning(bool running);
    void showStatus(const QString& text);

    // main_window_slots.cpp: the update tab keeps the configuration's
    // backup before a firmware update.
    QString backupBeforeStore(const QString& reason, QString* path);
    // After a firmware update the user chose to reboot: reboots the units,
    // waits for every unit of units (bit n for UID n), reloads the
    // configuration and compares it with backup (the file taken before the
    // update; "" when none was).
    void rebootAndCheckConfiguration(const QString& backup, std::uint32_t units);
    void showBackupError(const QString& error);

    // ---- members, in this order ----
    const WindowSettings settings_;
    Ui_MainWindow* ui_ = nullptr;
    vk61::ManifestService* manifests_ = nullptr;  // a child of the window
    UpdateTab* updateTab_ = nullptr;              // a child of the window
    std::unique_ptr<vk61::CommsManager> comms_;
    // Runs the exchanges; a child of the window, stopped before comms goes.
    BusWorker* busWorker_ = nullptr;
    // A reconnection arrived while an exchange ran: reload when it ends.
    bool reloadWhenIdle_ = false;

    // The configuration as read from and stored to the EFIS, with the edits
    // not yet stored and which settings are known, and the settings form.
    ConfigurationPanel* configuration_ = nullptr;
    // The devices tab: the table, its option boxes and the reboot wait.
    DevicesTab* devices_ = nullptr;
};

}  // namespace vk61
