// The "Device Updates" tab: choosing files and running the firmware update
// and the airport-database transfer, each on a worker thread of its own.
//
// Workers never touch widgets: progress, success and completion are posted
// to the window as queued calls carrying their values by copy.
#include <QDebug>
#include <QFileDialog>
#include <QFileInfo>
#include <QProgressBar>

#include <chrono>
#include <memory>

#include "comms_manager.h"
#include "flash/airport_worker.h"
#include "flash/firmware_worker.h"
#include "main_window.h"
#include "transfer_progress.h"
#include "ui_mainwindow.h"

namespace {

std::int64_t steadyNowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Progress callback of both transfers; runs on the worker or, for erase
// progress, on the manager's receive thread. Only computes and posts.
void postProgress(std::uint64_t done, std::uint64_t total, std::uint64_t phase, const void* user) {
    auto* context = static_cast<TransferProgressContext*>(const_cast<void*>(user));
    const int value = vk61::progress::barValue(done, total, phase);
    if (!context->throttle.accept(value, done, total, static_cast<int>(phase), steadyNowNs())) return;

    QString text;
    if (context->firmware) {
        text = phase == 0 ? MainWindow::tr("Erasing: %1 / %2 blocks").arg(done).arg(total)
                          : MainWindow::tr("Uploading: %1 / %2 bytes").arg(done).arg(total);
    } else {
        text = (phase == 0 ? MainWindow::tr("Device %1 / %2 (UID %3): erasing %4 / %5 blocks")
                           : MainWindow::tr("Device %1 / %2 (UID %3): uploading %4 / %5 bytes"))
                   .arg(context->position)
                   .arg(context->count)
                   .arg(context->uid)
                   .arg(done)
                   .arg(total);
    }
    MainWindow* window = context->window;
    const bool firmware = context->firmware;
    QMetaObject::invokeMethod(
        window, [window, firmware, value, text] { window->showTransferProgress(firmware, value, text); },
        Qt::QueuedConnection);
}

}  // namespace

void MainWindow::showTransferProgress(bool firmware, int value, const QString& text) {
    QProgressBar* bar = firmware ? ui->progressBar_firmware : ui->progressBar_airports;
    bar->setRange(0, vk61::progress::kBarMaximum);
    bar->setValue(value);
    showStatus(text);
}

void MainWindow::onBrowseClicked() { chooseFirmwareFile(); }

void MainWindow::chooseFirmwareFile() {
    const QString path = QFileDialog::getOpenFileName(this, tr("Select Firmware File"), QString(),
                                                      tr("Firmware Files (*.bin);;All Files (*)"));
    if (!path.isEmpty()) selectFirmwareFile(path, QString());
}

void MainWindow::onBrowseAirportsClicked() {
    const QString path = QFileDialog::getOpenFileName(this, tr("Select Airport Database"), QString(),
                                                      tr("Database Files (*.db);;All Files (*)"));
    if (path.isEmpty()) return;
    airportFilePath = path;
    ui->text_firmware_file_2->setPlainText(QFileInfo(path).fileName());
    ui->text_firmware_file_2->setEnabled(true);
    ui->pushButton_start_airport->setEnabled(true);
    ui->progressBar_airports->setEnabled(true);
}

void MainWindow::onStartUpdateClicked() {
    if (!comms || !comms->is_connected()) {
        showStatus(tr("No communication interface connected"));
        qDebug() << "Firmware update failed: not connected";
        return;
    }
    if (firmwareFilePath.isEmpty()) {
        showStatus(tr("No firmware file selected"));
        return;
    }
    // The file is checked again every time: it may have changed on disk
    // since it was chosen.
    if (!selectFirmwareFile(firmwareFilePath, QString())) return;
    if (firmwareThread) {
        showStatus(tr("Firmware update already in progress"));
        return;
    }
    if (airportThread && airportThread->isRunning()) {
        showStatus(tr("Finish airport transfer before firmware update"));
        return;
    }

    ui->pushButton_browse->setEnabled(false);
    ui->pushButton_fetch_fw->setEnabled(false);
    ui->pushButton_start_update->setEnabled(false);
    ui->text_firmware_file->setEnabled(false);
    ui->progressBar_firmware->setEnabled(true);
    ui->progressBar_firmware->setRange(0, vk61::progress::kBarMaximum);
    ui->progressBar_firmware->setValue(0);
    showStatus(tr("Preparing firmware update..."));
    // The update may leave the units with another configuration (or none):
    // keep the one they hold now. A failed backup does not stop the update.
    showBackupError(backupBeforeStore(QStringLiteral("before firmware update")));

    vk61::CommsManager* manager = comms.get();
    const std::string path = firmwareFilePath.toLocal8Bit().toStdString();
    QThread* thread = QThread::create([this, manager, path] {
        TransferProgressContext context;
        context.window = this;
        context.firmware = true;
        vk61::run_firmware_update(*manager, path, postProgress, &context, [this] {
            QMetaObject::invokeMethod(
                this,
                [this] {
                    ui->progressBar_firmware->setRange(0, vk61::progress::kBarMaximum);
                    ui->progressBar_firmware->setValue(vk61::progress::kBarMaximum);
                    showStatus(tr("Firmware upload complete"));
                },
                Qt::QueuedConnection);
        });
    });
    // A child of the window, so a thread object whose deferred deletion never
    // ran (the event loop ended first) is still deleted; the destructor waits
    // for every such child before the base class deletes it.
    thread->setParent(this);
    firmwareThread = thread;
    connect(thread, &QThread::finished, this, &MainWindow::onFirmwareThreadFinished);
    connect(thread, &QThread::finished, thread, &QObject::deleteLater);
    thread->start(QThread::InheritPriority);
}

void MainWindow::onFirmwareThreadFinished() {
    ui->pushButton_browse->setEnabled(true);
    ui->pushButton_fetch_fw->setEnabled(true);
    ui->pushButton_start_update->setEnabled(true);
    ui->text_firmware_file->setEnabled(true);
    showStatus(tr("Firmware update finished"));
    firmwareThread = nullptr;
}

void MainWindow::onStartAirportClicked() {
    if (airportFilePath.isEmpty()) {
        showStatus(tr("No airport database file selected"));
        return;
    }
    if (!comms || !comms->is_connected()) {
        showStatus(tr("Device not connected. Please connect to device first."));
        qDebug() << "Airport upload failed: CommsManager not connected";
        return;
    }
    const std::vector<vk61::DeviceInfo> units = comms->device_snapshot();
    if (units.empty()) {
        showStatus(tr("No devices discovered for airport database update"));
        return;
    }
    if (airportThread && airportThread->isRunning()) {
        showStatus(tr("Airport transfer already in progress"));
        return;
    }
    if (firmwareThread) {
        showStatus(tr("Finish firmware update before airport transfer"));
        return;
    }

    ui->pushButton_browse_airports->setEnabled(false);
    ui->pushButton_fetch_apt_db->setEnabled(false);
    ui->pushButton_start_airport->setEnabled(false);
    ui->text_firmware_file_2->setEnabled(false);
    ui->progressBar_airports->setEnabled(true);
    ui->progressBar_airports->setRange(0, vk61::progress::kBarMaximum);
    ui->progressBar_airports->setValue(0);

    std::vector<std::uint8_t> uids;
    for (const vk61::DeviceInfo& unit : units) uids.push_back(unit.uid);
    showStatus(tr("Starting airport database transfer to %1 device(s)...").arg(uids.size()));
    qDebug() << "Airport database upload:" << airportFilePath << "devices:" << uids.size();

    vk61::CommsManager* manager = comms.get();
    const std::string path = airportFilePath.toLocal8Bit().toStdString();
    QThread* thread = QThread::create([this, manager, path, uids] {
        TransferProgressContext context;
        context.window = this;
        context.firmware = false;
        const vk61::AirportResult result = vk61::run_airport_upload(
            *manager, path, uids,
            [&context](std::uint8_t uid, int position, int total) {
                context.uid = uid;
                context.position = position;
                context.count = total;
                context.throttle.reset();
            },
            postProgress, &context);
        QMetaObject::invokeMethod(
            this,
            [this, result] {
                onAirportTransferFinished(result.units_done, result.units_total, result.failed_uid, result.success);
            },
            Qt::QueuedConnection);
    });
    thread->setParent(this);  // see onStartUpdateClicked
    airportThread = thread;
    connect(thread, &QThread::finished, thread, &QObject::deleteLater);
    thread->start(QThread::InheritPriority);
}

void MainWindow::onAirportTransferFinished(int units_done, int units_total, int failed_uid, bool success) {
    ui->pushButton_browse_airports->setEnabled(true);
    ui->pushButton_fetch_apt_db->setEnabled(true);
    ui->pushButton_start_airport->setEnabled(true);
    ui->text_firmware_file_2->setEnabled(true);
    ui->progressBar_airports->setRange(0, vk61::progress::kBarMaximum);
    if (success) {
        ui->progressBar_airports->setValue(vk61::progress::kBarMaximum);
        showStatus(tr("Airport database transfer finished on all %1 device(s)").arg(units_total));
    } else {
        ui->progressBar_airports->setValue(0);
        showStatus(tr("Airport database transfer failed on UID %1 (%2 / %3 succeeded)")
                       .arg(failed_uid)
                       .arg(units_done)
                       .arg(units_total));
    }
    airportThread = nullptr;
}
