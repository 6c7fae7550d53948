// The EFIS configuration as the window shows and changes it: the
// configuration model (what the units hold, the edits not yet stored, which
// settings are known), the settings form that shows and edits it, the load,
// send and store over the bus, and the Configuration menu with the
// automatic backups.
//
// Others see the model read-only through model() and change it only through
// setValue; the window wires the devices tab's option edits to it. GUI
// thread only: every bus exchange runs on the window's bus worker with a
// copy of the model, and its outcome (the model it made and its result)
// comes back as a queued call. While one runs the form takes no edits.
#pragma once

#include <QObject>
#include <QString>

#include <cstdint>
#include <functional>
#include <optional>

#include "config/config_file.h"
#include "config/config_model.h"
#include "core/config_exchange.h"
#include "setting_bindings.h"
#include "device_info.h"

class QMainWindow;
class Ui_MainWindow;

namespace vk61 {

class BusWorker;
struct ColourButton;
class CommsManager;

class ConfigurationPanel : public QObject {
    Q_OBJECT

public:
    // window: the parent of the dialogs and the owner of the status bar;
    // ui: its widgets, of which the panel uses the settings tab's.
    // worker: runs the bus exchanges, one at a time.
    ConfigurationPanel(QMainWindow* window, Ui_MainWindow& ui, BusWorker* worker, const ConfigTimeouts& timeouts = {});

    // The manager the exchanges run on; null before the link is opened.
    void setComms(vk61::CommsManager* comms) { comms_ = comms; }
    const vk61::ConfigModel& model() const { return model_; }

    // ---- edits (configuration_panel.cpp) ----
    // Every change of the model goes through setValue, which remembers the
    // index until the units store it; false when the model refuses it.
    bool setValue(int index, std::uint32_t value);

    // ---- the bus (configuration_panel_load.cpp, configuration_panel_save.cpp) ----
    // Each returns at once; the exchange runs on the bus worker and shows
    // its outcome when it ends. Nothing starts while another exchange runs.
    // Loads and shows the outcome; then(ok) follows, ok when everything was
    // read and the checksum matched. A cancelled load changes nothing and
    // does not call then.
    void load(std::function<void(bool ok)> then = {});
    void sendEdits();
    void save();
    void saveDeviceOptions();
    // While an exchange runs the form shows but takes no edits: the
    // exchange's model replaces the window's when it ends.
    void setFormBusy(bool busy);

    // ---- files and backups (configuration_panel_backups.cpp) ----
    void exportToFile();
    void importFromFile();
    void restoreFromBackup();
    // Writes the backup; returns why it failed, "" when written or not needed.
    // *path, when given, gets the file that holds it ("" when there is none).
    QString backupBeforeStore(const QString& reason, QString* path = nullptr);
    // After a firmware update and the reload: compares the configuration
    // with backup, the file taken before the update. A setting that differs
    // opens the restore preview of that backup.
    void compareWithBackup(const QString& backup);
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
    // Runs step on the bus worker against a copy of the model, then makes
    // that copy the model and calls done (GUI thread). False when another
    // exchange runs.
    bool runExchange(std::function<void(ConfigExchange&)> step, std::function<void()> done, bool cancellable = false);
    void storeSettings(const QString& backupError, std::function<void(bool saved)> then = {});
    void showLoadResult(const LoadResult& result, const std::function<void(bool)>& then);
    void showUpdateResult(const UpdateResult& result);
    // Asks whether to store the EFIS's unstored working values along with
    // the edits; true to go on.
    bool confirmStoringUnstoredValues();
    void showStoreResult(const StoreResult& result, bool device_options);
    // The binding table's loops (configuration_panel.cpp, _load.cpp).
    void connectForm();
    void editSetting(const SettingBinding& binding);
    // Opens the button's colour dialog; true when the user chose a colour,
    // which the button then shows.
    bool pickColour(const ColourButton& colour);
    void populateForm();

    std::optional<vk61::DeviceInfo> primaryUnit() const;
    std::optional<vk61::ConfigFile> confirmedConfigurationFile(const QString& reason) const;
    void restoreConfigurationFrom(const QString& path);
    void storeFirstConfiguration(const vk61::ConfigFile& file, const QString& source);

    QMainWindow* window_;
    Ui_MainWindow& ui_;
    BusWorker* worker_;
    vk61::CommsManager* comms_ = nullptr;
    const ConfigTimeouts timeouts_;
    // The form's binding table: which widgets show which setting, and how.
    const std::vector<SettingBinding> bindings_;
    vk61::ConfigModel model_;
    // The last load's values do not match the checksum the EFIS stored: it
    // holds working values nobody stored, which a store would make permanent.
    bool unstoredOnEfis_ = false;
    // The last load found the EFIS's configuration memory erased: an import
    // gives it its first configuration.
    bool erasedOnEfis_ = false;
};

}  // namespace vk61
