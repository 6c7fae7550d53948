// The "Device Updates" tab: the chosen firmware and airport-database files,
// the two fetch flows, and the firmware update and airport-database transfer,
// each on a worker thread of its own. The window owns one and forwards the
// form's update-tab slots to it.
//
// GUI thread only. Workers never touch widgets: progress, success and
// completion are posted to this object as queued calls carrying their values
// by copy.
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QThread>

#include <cstdint>
#include <functional>
#include <memory>

#include "core/airport_resume.h"
#include "core/transfer_files.h"
#include "downloads/download_settings.h"
#include "downloads/firmware_package.h"
#include "downloads/http_fetch.h"
#include "transfer/airport_worker.h"
#include "flash/firmware_file.h"

class Ui_MainWindow;
class QWidget;

namespace vk61 {

class CommsManager;
class ManifestService;

class UpdateTab : public QObject {
    Q_OBJECT

public:
    // What the tab needs from the window, which owns the link, the status
    // bar and the configuration backups.
    struct WindowAccess {
        std::function<vk61::CommsManager*()> comms;  // null until the link is made
        std::function<void(const QString&)> showStatus;
        // Shows its own failure; returns the backup's file, "" when none was taken.
        std::function<QString()> backupBeforeUpdate;
        // Reboots the units of the mask, waits for them, reloads and compares
        // the configuration with the backup.
        std::function<void(const QString& backup, std::uint32_t units)> rebootAndCheck;
    };

    // ui: the window's form, of which the tab uses the update tab's widgets;
    // dialogs: the parent of its boxes and file dialogs.
    UpdateTab(Ui_MainWindow* ui, QWidget* dialogs, vk61::ManifestService* manifests, vk61::DownloadSettings downloads,
              WindowAccess window, QObject* parent);

    // The form's buttons.
    void browseFirmware();
    void fetchFirmware();
    void startFirmwareUpdate();
    void browseAirports();
    void fetchAirportDatabase();
    void startAirportTransfer();

    // True while a fetch flow waits for the network.
    bool fetchInProgress() const { return firmwareFetchRunning_ || airportFetchRunning_; }

    // Waits until both workers have ended. The window calls it after it has
    // disconnected the link (which makes them end promptly) and before the
    // link goes away.
    void waitForWorkers();

    // Shows a transfer's progress on its bar and the status bar.
    void showTransferProgress(bool firmware, int value, const QString& text);

private:
    vk61::CommsManager* comms() const { return window_.comms(); }
    void showStatus(const QString& text) { window_.showStatus(text); }

    // fetch_flows.cpp: every firmware file passes selectFirmwareFile. Each
    // fetch flow is a chain of callbacks from the event loop; the end*Fetch
    // functions close a flow and give its buttons back.
    // The file is read once and its digest computed over those bytes; with
    // image, they are handed out, to be sent as they are.
    bool selectFirmwareFile(const QString& path, const QString& expected_sha256,
                            std::shared_ptr<const vk61::FirmwareImage>* image = nullptr);
    void clearFirmwareSelection();
    // Lists what each unit will receive; refuses an image no unit can take
    // and asks before a downgrade, an image for another type of unit or an
    // erase far beyond the image. True when the update may start.
    bool confirmFirmwarePlan(const vk61::FirmwareImage& image);
    void onFirmwareManifestFetched(const vk61::FetchResult& fetched);
    void onFirmwarePackageResolved(const vk61::FileResult& resolved, const QString& expected_sha256);
    void endFirmwareFetch();
    void onAirportManifestLoaded(const vk61::FetchResult& loaded);
    void onAirportDatabaseResolved(const vk61::FileResult& resolved);
    void endAirportFetch();
    void chooseFirmwareFile();

    // update_tab.cpp: the airport database as the reader thread found it.
    struct AirportRead {
        vk61::LoadedDatabase database;
        QString sha256;           // of database's bytes, when they were read
        vk61::ResumeOffer offer;  // what the resume record says of them
        QString record_path;      // the resume record it was checked against
    };
    // On the window's thread, once the reader has read the file: the resume
    // question, then the transfer worker.
    void onAirportDatabaseRead(const AirportRead& read, const std::vector<vk61::DeviceInfo>& units);
    // From the click on Start until the transfer's end is shown: the read,
    // the resume question and the transfer itself.
    bool airportRunning() const { return airportThread_ != nullptr; }
    void setAirportControlsEnabled(bool enabled);

    // update_tab.cpp: the ends of the two transfers.
    void onFirmwareThreadFinished();
    // After a successful update: asks whether to reboot the units and check
    // their configuration.
    void offerRebootAfterUpdate();
    // The transfer's controls back, the bar full or empty, and the status.
    void onAirportTransferFinished(const vk61::AirportResult& result);
    // The completion of an airport transfer; `together`: the units went side
    // by side, so the status names which hold the new database.
    void finishAirportTransfer(const vk61::AirportResult& result, bool together);

    Ui_MainWindow* ui_;
    QWidget* dialogs_;
    vk61::ManifestService* manifests_;
    const vk61::DownloadSettings downloads_;
    WindowAccess window_;

    QString firmwareFilePath_;
    QString airportFilePath_;
    QPointer<QThread> firmwareThread_;
    QPointer<QThread> airportThread_;
    // The running or last firmware update: the backup taken before it (""
    // when none was), the units it went to (bit n for UID n), and whether
    // the worker reported success.
    QString firmwareBackup_;
    std::uint32_t firmwareUnits_ = 0;
    bool firmwareSucceeded_ = false;
    bool firmwareFetchRunning_ = false;
    bool airportFetchRunning_ = false;
};

}  // namespace vk61
