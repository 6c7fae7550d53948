// The fetch buttons of the update tab and the gate every firmware file
// passes: fetching the matching firmware package or the newest airport
// database from the downloads manifest, and accepting a firmware file only
// when its digest matches what the manifest says about it.
//
// The downloads calls block inside a nested event loop, so each flow first
// disables its own fetch and browse buttons and enables them again at the end.
// The start buttons stay usable meanwhile, so a transfer of the same kind may
// begin while a fetch waits. Such a transfer reads its file from disk as it
// goes (the firmware body after the erase, the database once per unit), and
// resolving a package may delete and rewrite that very file in the cache
// folder: each flow therefore looks again just before it touches package
// files, and leaves its buttons to the transfer when one started.
#include <QCoreApplication>
#include <QDebug>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>

#include "comms_manager.h"
#include "downloads/downloads.h"
#include "main_window.h"
#include "ui_mainwindow.h"

namespace {

void warn(QWidget* parent, const QString& title, const QString& text) {
    QMessageBox box(QMessageBox::Warning, title, text, QMessageBox::Ok, parent);
    box.exec();
}

// The unit whose firmware is fetched: the addressed one when its identity is
// known, else the first known one in registry order.
const vk61::DeviceInfo* chooseUnit(const std::vector<vk61::DeviceInfo>& units, std::uint8_t addressed) {
    for (const vk61::DeviceInfo& unit : units) {
        if (unit.uid == addressed && !unit.is_placeholder()) return &unit;
    }
    for (const vk61::DeviceInfo& unit : units) {
        if (!unit.is_placeholder()) return &unit;
    }
    return nullptr;
}

}  // namespace

void MainWindow::onFetchFwClicked() {
    if (firmwareThread) {
        showStatus(tr("Finish firmware update before fetching a new package"));
        return;
    }
    ui->pushButton_fetch_fw->setEnabled(false);
    ui->pushButton_browse->setEnabled(false);
    showStatus(tr("Fetching firmware manifest..."));
    QCoreApplication::processEvents();

    // An update started meanwhile keeps them disabled; its end enables them.
    const auto enableButtons = [this] {
        if (firmwareThread) return;
        ui->pushButton_fetch_fw->setEnabled(true);
        ui->pushButton_browse->setEnabled(true);
    };

    QByteArray manifest;
    if (!vk61::fetch_manifest_online(&manifest, nullptr)) {
        QMessageBox box(QMessageBox::Warning, tr("Manifest Unavailable"),
                        tr("Could not download the firmware manifest from the server."), QMessageBox::NoButton, this);
        box.setInformativeText(tr("Connect to the internet and try again, or select a firmware file manually "
                                  "using \"Select Firmware File\"."));
        QPushButton* select = box.addButton(tr("Select Firmware File"), QMessageBox::ActionRole);
        box.addButton(QMessageBox::Ok);
        box.exec();
        if (box.clickedButton() == select) chooseFirmwareFile();
        showStatus(tr("Could not download firmware manifest"));
        enableButtons();
        return;
    }

    firmwarePackages.clear();
    QString error;
    if (!vk61::parse_firmware_manifest(manifest, &firmwarePackages, &error)) {
        warn(this, tr("Manifest Parse Failed"), error);
        showStatus(tr("Could not parse firmware manifest"));
        enableButtons();
        return;
    }

    const vk61::DeviceInfo* unit = nullptr;
    std::vector<vk61::DeviceInfo> units;
    if (comms && comms->is_connected()) {
        units = comms->device_snapshot();
        unit = chooseUnit(units, comms->primary_uid());
    }
    if (unit == nullptr) {
        warn(this, tr("Device Not Connected"),
             tr("Connect to a device first so the correct firmware package can be selected from the manifest."));
        showStatus(tr("Connect a device to fetch firmware"));
        enableButtons();
        return;
    }

    const vk61::FirmwarePackage* found = vk61::find_firmware_for_device(firmwarePackages, unit->device_id);
    if (found == nullptr) {
        warn(this, tr("Firmware Not Found"), tr("No firmware package in the manifest matches this device."));
        showStatus(tr("No matching firmware in manifest"));
        enableButtons();
        return;
    }
    // A copy: the nested event loop of the download must not see the list
    // change under a pointer into it.
    const vk61::FirmwarePackage package = *found;
    showStatus(tr("Downloading firmware: %1").arg(package.firmware_file));
    QCoreApplication::processEvents();
    if (firmwareThread) {
        showStatus(tr("Finish firmware update before fetching a new package"));
        return;
    }
    downloadFirmwarePackage(package);

    if (firmwareFilePath.isEmpty()) {
        showStatus(tr("Firmware download failed"));
    } else {
        showStatus(tr("Firmware ready: %1").arg(QFileInfo(firmwareFilePath).fileName()));
    }
    enableButtons();
}

void MainWindow::downloadFirmwarePackage(const vk61::FirmwarePackage& package) {
    QString path;
    QString error;
    if (!package.resolve_local_path(&path, &error)) {
        warn(this, tr("Firmware Download Failed"), error);
        qDebug() << error;
        clearFirmwareSelection();
        return;
    }
    selectFirmwareFile(path, package.sha256);
}

bool MainWindow::selectFirmwareFile(const QString& path, const QString& expected_sha256) {
    if (!QFileInfo::exists(path)) {
        warn(this, tr("Firmware File Missing"), tr("Firmware file was not found:\n%1").arg(path));
        clearFirmwareSelection();
        return false;
    }

    QString expected = expected_sha256;
    if (expected.isEmpty() && !firmwarePackages.isEmpty()) {
        if (const vk61::FirmwarePackage* known = vk61::find_firmware_by_file_name(firmwarePackages, path)) {
            expected = known->sha256;
        }
    }

    QString error;
    if (!vk61::verify_file_sha256(path, expected, &error)) {
        QMessageBox box(QMessageBox::Critical, tr("Firmware Verification Failed"), error, QMessageBox::Ok, this);
        box.exec();
        qDebug() << error;
        clearFirmwareSelection();
        showStatus(tr("Firmware file rejected (SHA-256 mismatch)"));
        return false;
    }

    firmwareFilePath = path;
    ui->text_firmware_file->setPlainText(QFileInfo(path).fileName());
    ui->text_firmware_file->setEnabled(true);
    ui->pushButton_start_update->setEnabled(true);
    ui->progressBar_firmware->setEnabled(true);
    return true;
}

void MainWindow::clearFirmwareSelection() {
    if (!firmwareFilePath.isEmpty()) firmwareFilePath.clear();
    ui->text_firmware_file->clear();
    ui->text_firmware_file->setEnabled(false);
    ui->pushButton_start_update->setEnabled(false);
    ui->progressBar_firmware->setEnabled(false);
}

void MainWindow::onFetchAptDbClicked() {
    if (airportThread && airportThread->isRunning()) {
        showStatus(tr("Finish airport transfer before fetching a new database"));
        return;
    }
    ui->pushButton_fetch_apt_db->setEnabled(false);
    ui->pushButton_browse_airports->setEnabled(false);
    showStatus(tr("Fetching airport database manifest..."));
    QCoreApplication::processEvents();

    const auto airportRunning = [this] { return airportThread && airportThread->isRunning(); };
    // A transfer started meanwhile keeps them disabled; its end enables them.
    const auto enableButtons = [this, airportRunning] {
        if (airportRunning()) return;
        ui->pushButton_fetch_apt_db->setEnabled(true);
        ui->pushButton_browse_airports->setEnabled(true);
    };

    QByteArray manifest;
    QString error;
    if (!vk61::load_manifest_bytes(&manifest, &error)) {
        warn(this, tr("Manifest Unavailable"), error);
        showStatus(tr("Could not load downloads manifest"));
        enableButtons();
        return;
    }

    QList<vk61::DatabasePackage> databases;
    if (!vk61::parse_database_manifest(manifest, &databases, &error)) {
        warn(this, tr("Manifest Parse Failed"), error);
        showStatus(tr("Could not parse database manifest"));
        enableButtons();
        return;
    }

    const vk61::DatabasePackage* package = vk61::find_latest_database(databases, QStringLiteral("airport"));
    if (package == nullptr) {
        warn(this, tr("Airport Database Not Found"), tr("No airport database entry found in downloads_manifest.json."));
        showStatus(tr("No airport database in manifest"));
        enableButtons();
        return;
    }

    showStatus(tr("Downloading airport database: %1")
                   .arg(package->display_name.isEmpty() ? package->database_file : package->display_name));
    QCoreApplication::processEvents();
    if (airportRunning()) {
        showStatus(tr("Finish airport transfer before fetching a new database"));
        return;
    }
    QString path;
    if (!package->resolve_local_path(&path, &error)) {
        warn(this, tr("Airport Database Download Failed"), error);
        showStatus(tr("Airport database download failed"));
        enableButtons();
        return;
    }

    airportFilePath = path;
    const QString name = QFileInfo(path).fileName();
    ui->text_firmware_file_2->setPlainText(name);
    ui->text_firmware_file_2->setEnabled(true);
    ui->pushButton_start_airport->setEnabled(true);
    ui->progressBar_airports->setEnabled(true);
    showStatus(tr("Airport database ready: %1").arg(name));
    enableButtons();
}
