// The EFIS configuration as the window shows and changes it: the
// configuration model (what the units hold, the edits not yet stored, which
// settings are known), the settings form that shows and edits it, the load,
// send and store over the bus, and the Configuration menu with the
// automatic backups.
//
// Others see the model read-only through model() and change it only through
// setValue; the window wires the devices tab's option edits to it. GUI
// thread only; the bus exchanges block it (see ConfigExchange).
#pragma once

#include <QObject>
#include <QString>

#include <cstdint>
#include <optional>

#include "config/config_file.h"
#include "config/config_model.h"
#include "core/config_exchange.h"
#include "device_info.h"

class QMainWindow;
class Ui_MainWindow;
struct ColourButton;

namespace vk61 {
class CommsManager;
}

class ConfigurationPanel : public QObject {
    Q_OBJECT

public:
    // window: the parent of the dialogs and the owner of the status bar;
    // ui: its widgets, of which the panel uses the settings tab's.
    ConfigurationPanel(QMainWindow* window, Ui_MainWindow& ui, const ConfigTimeouts& timeouts = {});

    // The manager the exchanges run on; null before the link is opened.
    void setComms(vk61::CommsManager* comms) { comms_ = comms; }
    const vk61::ConfigModel& model() const { return model_; }

    // ---- edits (configuration_panel.cpp) ----
    // Every change of the model goes through setValue, which remembers the
    // index until the units store it; false when the model refuses it.
    bool setValue(int index, std::uint32_t value);
    void editWhole(unsigned index, int value);  // spin boxes, sliders, list positions
    void editVolts(unsigned index, double volts);
    void editDegrees(unsigned index, double degrees);
    void editUnits();
    void editRegistration();
    void editIcaoAddress();
    void editIcaoAddressType();
    // The colour a button's style sheet names; a sheet naming none stores nothing.
    void editColour(unsigned index);
    // Opens the button's colour dialog; on OK the button and the setting take the choice.
    void pickColour(const ColourButton& colour);

    // ---- the bus (configuration_panel_load.cpp, configuration_panel_save.cpp) ----
    // Loads and shows the outcome; true when everything was read and the
    // checksum matched.
    bool load();
    void sendEdits();
    void save();
    void saveDeviceOptions();

    // ---- files and backups (configuration_panel_backups.cpp) ----
    void exportToFile();
    void importFromFile();
    void restoreFromBackup();
    // Writes the backup; returns why it failed, "" when written or not needed.
    QString backupBeforeStore(const QString& reason);
    // Adds a failed backup to the status bar's message.
    void showBackupError(const QString& error);

signals:
    // After every edit and exchange: whether a per-unit option edit waits
    // for the devices tab's save.
    void deviceOptionsPending(bool pending);
    // A load read the configuration and the form shows it.
    void loaded();

private:
    void showStatus(const QString& text);
    // The log line and status text of every action that needs the link.
    void showNotConnected();
    void updateDeviceOptionsPending();
    ConfigExchange exchange();
    void showStoreResult(const StoreResult& result, bool device_options);
    void populateForm();
    void collectForm();

    std::optional<vk61::DeviceInfo> primaryUnit() const;
    std::optional<vk61::ConfigFile> confirmedConfigurationFile(const QString& reason) const;
    void restoreConfigurationFrom(const QString& path);

    QMainWindow* window_;
    Ui_MainWindow& ui_;
    vk61::CommsManager* comms_ = nullptr;
    const ConfigTimeouts timeouts_;
    vk61::ConfigModel model_;
};
