// The fetch buttons of the update tab and the gate every firmware file
// passes: fetching the matching firmware package or the newest airport
// database from the downloads manifest, and accepting a firmware file only
// when its digest matches what the manifest says about it.
//
// Each flow is a chain of callbacks: the button's slot starts the manifest
// request and returns, the manifest's arrival continues the flow, and the
// package file's arrival ends it. Meanwhile the window stays live: a flow
// disables only its own fetch and browse buttons and enables them again at
// the end. The start buttons stay usable, so a transfer of the same kind may
// begin while a fetch waits. Such a transfer reads its file once, before it
// sends anything, and sends those bytes, so resolving a package that rewrites
// that very file in the cache folder cannot change what the units receive;
// each flow still looks again just before it touches package files, and
// leaves its buttons to the transfer when one started.
#include <QDebug>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>

#include "comms_manager.h"
#include "core/transfer_files.h"
#include "core/unit_choice.h"
#include "downloads/downloads.h"
#include "downloads/manifest_service.h"
#include "result_text.h"
#include "ui_mainwindow.h"
#include "update_tab.h"
#include "ui_mainwindow.h"

namespace vk61 {

namespace {

void warn(QWidget* parent, const QString& title, const QString& text) {
    QMessageBox box(QMessageBox::Warning, title, text, QMessageBox::Ok, parent);
    box.exec();
}

}  // namespace

void UpdateTab::fetchFirmware() {
    if (firmwareThread_) {
        showStatus(tr("Finish firmware update before fetching a new package"));
        return;
    }
    if (firmwareFetchRunning_) return;  // its button is disabled until the flow ends
    firmwareFetchRunning_ = true;
    ui_->pushButton_fetch_fw->setEnabled(false);
    ui_->pushButton_browse->setEnabled(false);
    showStatus(tr("Fetching firmware manifest..."));
    manifests_->fetch_online(this, [this](const vk61::FetchResult& fetched) { onFirmwareManifestFetched(fetched); });
}

void UpdateTab::endFirmwareFetch() {
    firmwareFetchRunning_ = false;
    // An update started meanwhile keeps them disabled; its end enables them.
    if (firmwareThread_) return;
    ui_->pushButton_fetch_fw->setEnabled(true);
    ui_->pushButton_browse->setEnabled(true);
}

void UpdateTab::onFirmwareManifestFetched(const vk61::FetchResult& fetched) {
    if (!fetched.ok()) {
        QMessageBox box(QMessageBox::Warning, tr("Manifest Unavailable"),
                        tr("Could not download the firmware manifest from the server."), QMessageBox::NoButton,
                        dialogs_);
        box.setInformativeText(
            tr("Connect to the internet and try again, or select a firmware file manually "
               "using \"Select Firmware File\"."));
        QPushButton* select = box.addButton(tr("Select Firmware File"), QMessageBox::ActionRole);
        box.addButton(QMessageBox::Ok);
        box.exec();
        if (box.clickedButton() == select) chooseFirmwareFile();
        showStatus(tr("Could not download firmware manifest"));
        endFirmwareFetch();
        return;
    }

    // The manifest service keeps the same list (entries before a bad one
    // included) for the devices table and for checking chosen files.
    QList<vk61::FirmwarePackage> packages;
    if (const vk61::DownloadResult parsed = vk61::parse_firmware_manifest(fetched.body, &packages); !parsed.ok()) {
        warn(dialogs_, tr("Manifest Parse Failed"), downloadFailureText(parsed));
        showStatus(tr("Could not parse firmware manifest"));
        endFirmwareFetch();
        return;
    }

    const vk61::DeviceInfo* unit = nullptr;
    std::vector<vk61::DeviceInfo> units;
    if (comms() && comms()->is_connected()) {
        units = comms()->device_snapshot();
        unit = choose_fetch_unit(units, comms()->primary_uid());
    }
    if (unit == nullptr) {
        warn(dialogs_, tr("Device Not Connected"),
             tr("Connect to a device first so the correct firmware package can be selected from the manifest."));
        showStatus(tr("Connect a device to fetch firmware"));
        endFirmwareFetch();
        return;
    }

    const vk61::FirmwarePackage* package = vk61::find_firmware_for_device(packages, unit->device_id);
    if (package == nullptr) {
        warn(dialogs_, tr("Firmware Not Found"), tr("No firmware package in the manifest matches this device."));
        showStatus(tr("No matching firmware in manifest"));
        endFirmwareFetch();
        return;
    }
    showStatus(tr("Downloading firmware: %1").arg(package->firmware_file));
    if (firmwareThread_) {
        showStatus(tr("Finish firmware update before fetching a new package"));
        firmwareFetchRunning_ = false;
        return;
    }
    package->start_resolve_local_path(downloads_, this,
                                      [this, sha256 = package->sha256](const vk61::FileResult& resolved) {
                                          onFirmwarePackageResolved(resolved, sha256);
                                      });
}

void UpdateTab::onFirmwarePackageResolved(const vk61::FileResult& resolved, const QString& expected_sha256) {
    if (!resolved.ok()) {
        const QString text = downloadFailureText(resolved);
        warn(dialogs_, tr("Firmware Download Failed"), text);
        qDebug() << text;
        clearFirmwareSelection();
    } else {
        selectFirmwareFile(resolved.path, expected_sha256);
    }
    if (firmwareFilePath_.isEmpty()) {
        showStatus(tr("Firmware download failed"));
    } else {
        showStatus(tr("Firmware ready: %1").arg(QFileInfo(firmwareFilePath_).fileName()));
    }
    endFirmwareFetch();
}

bool UpdateTab::selectFirmwareFile(const QString& path, const QString& expected_sha256,
                                   std::shared_ptr<const vk61::FirmwareImage>* image) {
    if (!QFileInfo::exists(path)) {
        warn(dialogs_, tr("Firmware File Missing"), tr("Firmware file was not found:\n%1").arg(path));
        clearFirmwareSelection();
        return false;
    }

    QString expected = expected_sha256;
    if (expected.isEmpty()) {
        if (const vk61::FirmwarePackage* known =
                vk61::find_firmware_by_file_name(manifests_->firmware_packages(), path)) {
            expected = known->sha256;
        }
    }

    const vk61::LoadedFirmware loaded = vk61::load_firmware_file(path, expected);
    if (loaded.problem == vk61::TransferFileProblem::DigestMismatch) {
        QMessageBox box(QMessageBox::Critical, tr("Firmware Verification Failed"), loaded.error, QMessageBox::Ok,
                        dialogs_);
        box.exec();
        qDebug() << loaded.error;
        clearFirmwareSelection();
        showStatus(tr("Firmware file rejected (SHA-256 mismatch)"));
        return false;
    }
    if (!loaded.image) {
        warn(dialogs_, tr("Firmware File Unusable"), loaded.error);
        clearFirmwareSelection();
        return false;
    }
    if (image != nullptr) *image = loaded.image;

    firmwareFilePath_ = path;
    ui_->text_firmware_file->setPlainText(QFileInfo(path).fileName());
    ui_->text_firmware_file->setEnabled(true);
    ui_->pushButton_start_update->setEnabled(true);
    ui_->progressBar_firmware->setEnabled(true);
    return true;
}

void UpdateTab::clearFirmwareSelection() {
    if (!firmwareFilePath_.isEmpty()) firmwareFilePath_.clear();
    ui_->text_firmware_file->clear();
    ui_->text_firmware_file->setEnabled(false);
    ui_->pushButton_start_update->setEnabled(false);
    ui_->progressBar_firmware->setEnabled(false);
}

void UpdateTab::fetchAirportDatabase() {
    if (airportRunning()) {
        showStatus(tr("Finish airport transfer before fetching a new database"));
        return;
    }
    if (airportFetchRunning_) return;  // its button is disabled until the flow ends
    airportFetchRunning_ = true;
    ui_->pushButton_fetch_apt_db->setEnabled(false);
    ui_->pushButton_browse_airports->setEnabled(false);
    showStatus(tr("Fetching airport database manifest..."));
    manifests_->load(this, [this](const vk61::FetchResult& loaded) { onAirportManifestLoaded(loaded); });
}

void UpdateTab::endAirportFetch() {
    airportFetchRunning_ = false;
    // A transfer started meanwhile keeps them disabled; its end enables them.
    if (airportRunning()) return;
    ui_->pushButton_fetch_apt_db->setEnabled(true);
    ui_->pushButton_browse_airports->setEnabled(true);
}

void UpdateTab::onAirportManifestLoaded(const vk61::FetchResult& loaded) {
    if (!loaded.ok()) {
        warn(dialogs_, tr("Manifest Unavailable"), downloadFailureText(loaded));
        showStatus(tr("Could not load downloads manifest"));
        endAirportFetch();
        return;
    }

    QList<vk61::DatabasePackage> databases;
    if (const vk61::DownloadResult parsed = vk61::parse_database_manifest(loaded.body, &databases); !parsed.ok()) {
        warn(dialogs_, tr("Manifest Parse Failed"), downloadFailureText(parsed));
        showStatus(tr("Could not parse database manifest"));
        endAirportFetch();
        return;
    }

    const vk61::DatabasePackage* package = vk61::find_latest_database(databases, QStringLiteral("airport"));
    if (package == nullptr) {
        warn(dialogs_, tr("Airport Database Not Found"),
             tr("No airport database entry found in downloads_manifest.json."));
        showStatus(tr("No airport database in manifest"));
        endAirportFetch();
        return;
    }

    showStatus(tr("Downloading airport database: %1")
                   .arg(package->display_name.isEmpty() ? package->database_file : package->display_name));
    if (airportRunning()) {
        showStatus(tr("Finish airport transfer before fetching a new database"));
        airportFetchRunning_ = false;
        return;
    }
    package->start_resolve_local_path(
        downloads_, this, [this](const vk61::FileResult& resolved) { onAirportDatabaseResolved(resolved); });
}

void UpdateTab::onAirportDatabaseResolved(const vk61::FileResult& resolved) {
    if (!resolved.ok()) {
        warn(dialogs_, tr("Airport Database Download Failed"), downloadFailureText(resolved));
        showStatus(tr("Airport database download failed"));
        endAirportFetch();
        return;
    }
    airportFilePath_ = resolved.path;
    const QString name = QFileInfo(resolved.path).fileName();
    ui_->text_firmware_file_2->setPlainText(name);
    ui_->text_firmware_file_2->setEnabled(true);
    ui_->pushButton_start_airport->setEnabled(true);
    ui_->progressBar_airports->setEnabled(true);
    showStatus(tr("Airport database ready: %1").arg(name));
    endAirportFetch();
}

}  // namespace vk61
