// The single window of the tool: four tabs (devices, settings, device
// updates, calibrations - the last one hidden), the status bar, and the
// bus manager it creates once the event loop runs. The update tab's state
// lives in an UpdateTab (update_tab.h), the downloads manifest in a
// ManifestService; the window's update-tab slots forward to the former.
//
// Everything here runs on the GUI thread. Work from the manager's receive
// thread reaches the window, and work from the transfer workers its update
// tab, only as queued calls.
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
#include "config_exchange.h"
#include "device_info.h"
#include "downloads/firmware_package.h"
#include "window_settings.h"

class Ui_MainWindow;
class UpdateTab;
class QCheckBox;

namespace vk61 {
class CommsManager;
class ManifestService;
}

class MainWindow : public QMainWindow {
    Q_OBJECT

public:
    // The product runs with WindowSettings{}; tests and the demo pass their own.
    explicit MainWindow(const WindowSettings& settings = {}, QWidget* parent = nullptr);
    ~MainWindow() override;

    // Read access for tests and for the window's own helpers.
    const vk61::ConfigRecord& configRecord() const { return model.record(); }
    std::uint32_t deviceChecksumValue() const { return model.device_checksum(); }
    const std::set<int>& pendingChangeSet() const { return model.pending(); }
    const vk61::ConfigModel& configModel() const { return model; }
    vk61::CommsManager* commsManager() const { return comms.get(); }
    const WindowSettings& settings() const { return settings_; }
    // The downloads manifest and its firmware packages, as this window has them.
    vk61::ManifestService& manifestService() const { return *manifests; }
    // True while a fetch button's flow waits for the network.
    bool fetchInProgress() const;

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

    void onSkyColorPickerClicked();
    void onSkyColor1PickerClicked();
    void onGroundColorPickerClicked();
    void onGroundColor1PickerClicked();
    void onApproachIndiColorPickerClicked();
    void onAirplaneColorPickerClicked();
    void onGreenArcColorPickerClicked();
    void onYellowArcColorPickerClicked();
    void onRedArcColorPickerClicked();
    void onGearIndiColorPickerClicked();
    void onUnitsChanged();
    void onVminChanged(int value);
    void onVs0Changed(int value);
    void onVs1Changed(int value);
    void onVfeChanged(int value);
    void onVn0Changed(int value);
    void onVneChanged(int value);
    void onVrefChanged(int value);
    void onVloChanged(int value);
    void onMinVoltChanged(double value);
    void onMaxVoltChanged(double value);
    void onMinVoltAlertChanged(double value);
    void onMaxVoltAlertChanged(double value);
    void onRegistrationChanged();
    void onSkyColor0Changed();
    void onSkyColor1Changed();
    void onGroundColor0Changed();
    void onGroundColor1Changed();
    void onApproachIndiColorChanged();
    void onAirplaneColorChanged();
    void onGreenArcColorChanged();
    void onYellowArcColorChanged();
    void onRedArcColorChanged();
    void onGearIndiColorChanged();
    void onBacklightBrightnessChanged(int value);
    void onTextBgAlphaChanged(int value);
    void onRollCorrectionChanged(double value);
    void onPitchCorrectionChanged(double value);
    void onOwnshipIcaoChanged();
    void onEmitterCatChanged(int index);
    void onMapViewChanged(int index);
    void onDefaultScreenChanged(int index);
    void onSaveDevicesClicked();
    void onIcaoAddressTypeChanged();
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
    void showStatus(const QString& text);

    // device_table.cpp
    void setUpDeviceTable();
    void fitDeviceTableHeight();
    void onTerminationToggled(QCheckBox* box, bool on);

    // device_actions.cpp
    void waitForDevicesAfterReboot(int attempt, std::uint64_t mark);

    // config_state.cpp: every edit goes through setConfigValue; the bus
    // exchanges run through a ConfigExchange on the window's model.
    bool setConfigValue(int index, std::uint32_t value);
    void updateSaveDevicesButton();
    ConfigExchange configExchange();

    // config_load.cpp: runs a load and shows its outcome; true when it read
    // everything and the checksum matched.
    bool loadConfiguration();
    // config_save.cpp: shows the outcome of a store on the status bar.
    void showStoreResult(const StoreResult& result, bool device_options);

    // config_backups.cpp: files and automatic backups of the configuration
    // as last completely read from or stored to the EFIS.
    std::optional<vk61::DeviceInfo> primaryUnit() const;
    QString efisSerial() const;
    std::optional<vk61::ConfigFile> confirmedConfigurationFile(const QString& reason) const;
    // Writes the backup; returns why it failed, "" when written or not needed.
    QString backupBeforeStore(const QString& reason);
    // Adds a failed backup to the status bar's message.
    void showBackupError(const QString& error);
    void restoreConfigurationFrom(const QString& path);

    // unread_settings.cpp: disables the widgets of settings the last load
    // could not read, with a tooltip that says so.
    void showUnreadSettings();

    // settings_panel.cpp, config_load.cpp, config_save.cpp
    void fillRegistrationPrefixes();
    void populateSettingsForm();
    void collectSettingsForm();
    std::uint32_t parseIcaoAddress() const;

    // ---- members, in this order ----
    const WindowSettings settings_;
    Ui_MainWindow* ui = nullptr;
    vk61::ManifestService* manifests = nullptr;  // a child of the window
    UpdateTab* updateTab = nullptr;              // a child of the window
    std::unique_ptr<vk61::CommsManager> comms;

    // The configuration as read from and stored to the EFIS, with the edits
    // not yet stored and which settings are known.
    vk61::ConfigModel model;
};
