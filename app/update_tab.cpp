// The update tab's files and its two transfers on their worker threads.
#include <QDebug>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QProgressBar>

#include <chrono>
#include <memory>

#include "comms_manager.h"
#include "core/firmware_plan.h"
#include "core/transfer_files.h"
#include "core/update_check.h"
#include "downloads/downloads.h"
#include "downloads/manifest_service.h"
#include "core/airport_resume.h"
#include "core/airport_transfer.h"
#include "result_text.h"
#include "transfer/airport_worker.h"
#include "transfer/firmware_worker.h"
#include "transfer_progress.h"
#include "ui_mainwindow.h"
#include "update_tab.h"

namespace vk61 {

namespace {

std::int64_t steadyNowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Progress of both transfers; runs on the worker or, for erase progress, on
// the manager's receive thread. Only computes and posts.
void postProgress(TransferProgressContext* context, std::uint64_t done, std::uint64_t total,
                  vk61::ProgressPhase progress_phase) {
    const auto phase = static_cast<std::uint64_t>(progress_phase);
    const std::int64_t now = steadyNowNs();
    if (context->phase != static_cast<int>(phase)) {
        context->phase = static_cast<int>(phase);
        context->phase_start_ns = now;
        context->phase_start_done = done;
    }
    const int value = vk61::progress::barValue(done, total, phase);
    if (!context->throttle.accept(value, done, total, static_cast<int>(phase), now)) return;

    QString text;
    if (!context->firmware && context->count == 0) {
        // Every unit at once: one bar, the bytes of the database and the rate.
        const double seconds = static_cast<double>(now - context->phase_start_ns) / 1e9;
        const double rate = seconds > 0 ? static_cast<double>(done - context->phase_start_done) / seconds : 0;
        text = phase == 0
                   ? UpdateTab::tr("All %1 units: erasing %2 / %3 blocks").arg(context->units).arg(done).arg(total)
                   : UpdateTab::tr("All %1 units: uploading %2 / %3 bytes, %4 KB/s")
                         .arg(context->units)
                         .arg(done)
                         .arg(total)
                         .arg(rate / 1000.0, 0, 'f', 1);
    } else if (context->firmware) {
        text = phase == 0 ? UpdateTab::tr("Erasing: %1 / %2 blocks").arg(done).arg(total)
                          : UpdateTab::tr("Uploading: %1 / %2 bytes").arg(done).arg(total);
    } else {
        text = (phase == 0 ? UpdateTab::tr("Device %1 / %2 (UID %3): erasing %4 / %5 blocks")
                           : UpdateTab::tr("Device %1 / %2 (UID %3): uploading %4 / %5 bytes"))
                   .arg(context->position)
                   .arg(context->count)
                   .arg(context->uid)
                   .arg(done)
                   .arg(total);
    }
    UpdateTab* tab = context->tab;
    const bool firmware = context->firmware;
    QMetaObject::invokeMethod(
        tab, [tab, firmware, value, text] { tab->showTransferProgress(firmware, value, text); }, Qt::QueuedConnection);
}

// The progress callback of a transfer whose worker owns context.
vk61::ProgressCallback progressTo(TransferProgressContext& context) {
    return [&context](std::uint64_t done, std::uint64_t total, vk61::ProgressPhase phase) {
        postProgress(&context, done, total, phase);
    };
}

}  // namespace

UpdateTab::UpdateTab(Ui_MainWindow* ui, QWidget* dialogs, vk61::ManifestService* manifests,
                     vk61::DownloadSettings downloads, WindowAccess window, QObject* parent)
    : QObject(parent),
      ui_(ui),
      dialogs_(dialogs),
      manifests_(manifests),
      downloads_(std::move(downloads)),
      window_(std::move(window)) {}

namespace {
// A worker holds the manager and posts to the tab, so neither may go away
// while it runs. disconnect() has already failed its current bus operation,
// so it ends promptly; the bounded wait is the normal path and the unbounded
// one only guards against a worker that is still reading its file.
void waitForWorker(QThread* thread, const char* name) {
    if (thread == nullptr || !thread->isRunning()) return;
    if (!thread->wait(5000)) {
        qWarning() << name << "worker still running 5 s after disconnect; waiting for it to end";
        thread->wait();
    }
}
}  // namespace

void UpdateTab::waitForWorkers() {
    waitForWorker(firmwareThread_, "Firmware");
    waitForWorker(airportThread_, "Airport");
    airportThread_ = nullptr;
    // The airport completion clears airportThread_ while its thread is still
    // returning; the worker threads are children of the tab and must have
    // ended before they are deleted.
    for (QThread* thread : findChildren<QThread*>(Qt::FindDirectChildrenOnly)) waitForWorker(thread, "Transfer");
    firmwareThread_ = nullptr;
}

void UpdateTab::showTransferProgress(bool firmware, int value, const QString& text) {
    QProgressBar* bar = firmware ? ui_->progressBar_firmware : ui_->progressBar_airports;
    bar->setRange(0, vk61::progress::kBarMaximum);
    bar->setValue(value);
    showStatus(text);
}

void UpdateTab::browseFirmware() { chooseFirmwareFile(); }

void UpdateTab::chooseFirmwareFile() {
    const QString path = QFileDialog::getOpenFileName(dialogs_, tr("Select Firmware File"), QString(),
                                                      tr("Firmware Files (*.bin);;All Files (*)"));
    if (!path.isEmpty()) selectFirmwareFile(path, QString());
}

void UpdateTab::browseAirports() {
    const QString path = QFileDialog::getOpenFileName(dialogs_, tr("Select Airport Database"), QString(),
                                                      tr("Database Files (*.db);;All Files (*)"));
    if (path.isEmpty()) return;
    airportFilePath_ = path;
    ui_->text_firmware_file_2->setPlainText(QFileInfo(path).fileName());
    ui_->text_firmware_file_2->setEnabled(true);
    ui_->pushButton_start_airport->setEnabled(true);
    ui_->progressBar_airports->setEnabled(true);
}

void UpdateTab::startFirmwareUpdate() {
    if (!comms() || !comms()->is_connected()) {
        showStatus(tr("No communication interface connected"));
        qDebug() << "Firmware update failed: not connected";
        return;
    }
    if (firmwareFilePath_.isEmpty()) {
        showStatus(tr("No firmware file selected"));
        return;
    }
    // The file is read and checked again every time: it may have changed on
    // disk since it was chosen. The bytes read here are the ones sent.
    std::shared_ptr<const vk61::FirmwareImage> image;
    if (!selectFirmwareFile(firmwareFilePath_, QString(), &image)) return;
    if (firmwareThread_) {
        showStatus(tr("Firmware update already in progress"));
        return;
    }
    if (airportRunning()) {
        showStatus(tr("Finish airport transfer before firmware update"));
        return;
    }

    if (!confirmFirmwarePlan(*image)) return;

    ui_->pushButton_browse->setEnabled(false);
    ui_->pushButton_fetch_fw->setEnabled(false);
    ui_->pushButton_start_update->setEnabled(false);
    ui_->text_firmware_file->setEnabled(false);
    ui_->progressBar_firmware->setEnabled(true);
    ui_->progressBar_firmware->setRange(0, vk61::progress::kBarMaximum);
    ui_->progressBar_firmware->setValue(0);
    showStatus(tr("Preparing firmware update..."));
    firmwareBackup_ = window_.backupBeforeUpdate();
    firmwareUnits_ = unitMask(comms()->device_snapshot());
    firmwareSucceeded_ = false;

    vk61::CommsManager* manager = comms();
    QThread* thread = QThread::create([this, manager, image] {
        TransferProgressContext context;
        context.tab = this;
        context.firmware = true;
        vk61::run_firmware_update(*manager, *image, progressTo(context), [this] {
            QMetaObject::invokeMethod(
                this,
                [this] {
                    ui_->progressBar_firmware->setRange(0, vk61::progress::kBarMaximum);
                    ui_->progressBar_firmware->setValue(vk61::progress::kBarMaximum);
                    showStatus(tr("Firmware upload complete"));
                    firmwareSucceeded_ = true;
                },
                Qt::QueuedConnection);
        });
    });
    // A child of the tab, so a thread object whose deferred deletion never
    // ran (the event loop ended first) is still deleted; waitForWorkers()
    // waits for every such child before the window lets the tab go.
    thread->setParent(this);
    firmwareThread_ = thread;
    connect(thread, &QThread::finished, this, &UpdateTab::onFirmwareThreadFinished);
    connect(thread, &QThread::finished, thread, &QObject::deleteLater);
    thread->start(QThread::InheritPriority);
}

bool UpdateTab::confirmFirmwarePlan(const vk61::FirmwareImage& image) {
    const vk61::FirmwarePlan plan = vk61::plan_firmware_update(
        image,
        vk61::firmware_identity(firmwareFilePath_,
                                vk61::find_firmware_by_file_name(manifests_->firmware_packages(), firmwareFilePath_)),
        comms()->device_snapshot());
    if (plan.refused()) {
        QMessageBox box(QMessageBox::Warning, tr("Firmware File Unusable"),
                        tr("The firmware cannot be sent: %1.").arg(plan.refusal), QMessageBox::Ok, dialogs_);
        box.exec();
        showStatus(tr("Firmware update not started: %1").arg(plan.refusal));
        return false;
    }
    for (const QString& line : plan.unit_lines()) qDebug().noquote() << "Firmware update:" << line;
    if (!plan.needs_confirmation()) return true;
    QMessageBox box(QMessageBox::Warning, tr("Confirm Firmware Update"),
                    plan.unit_lines().join(QLatin1Char('\n')) + QStringLiteral("\n\n") +
                        plan.concerns().join(QLatin1Char('\n')) + QStringLiteral("\n\n") + tr("Update anyway?"),
                    QMessageBox::Yes | QMessageBox::No, dialogs_);
    box.setDefaultButton(QMessageBox::No);
    if (box.exec() == QMessageBox::Yes) return true;
    showStatus(tr("Firmware update cancelled"));
    return false;
}

void UpdateTab::onFirmwareThreadFinished() {
    ui_->pushButton_browse->setEnabled(true);
    ui_->pushButton_fetch_fw->setEnabled(true);
    ui_->pushButton_start_update->setEnabled(true);
    ui_->text_firmware_file->setEnabled(true);
    showStatus(tr("Firmware update finished"));
    firmwareThread_ = nullptr;
    if (firmwareSucceeded_) offerRebootAfterUpdate();
    firmwareSucceeded_ = false;
}

// The question is opened, not run: no event loop of its own, so the window
// goes on (and may close) while it waits for an answer.
void UpdateTab::offerRebootAfterUpdate() {
    auto* box = new QMessageBox(QMessageBox::Question, tr("Reboot Units"),
                                tr("The new firmware was written to every unit; it runs after a reboot.\n\n"
                                   "Reboot the units now, wait for them and compare their configuration with the "
                                   "backup taken before the update?"),
                                QMessageBox::Yes | QMessageBox::No, dialogs_);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setDefaultButton(QMessageBox::Yes);
    connect(box, &QMessageBox::finished, this, [this, box, backup = firmwareBackup_, units = firmwareUnits_] {
        if (box->standardButton(box->clickedButton()) != QMessageBox::Yes) return;
        if (!comms() || !comms()->is_connected()) {
            showStatus(tr("No communication interface connected"));
            return;
        }
        window_.rebootAndCheck(backup, units);
    });
    box->open();
}

void UpdateTab::startAirportTransfer() {
    if (airportFilePath_.isEmpty()) {
        showStatus(tr("No airport database file selected"));
        return;
    }
    if (!comms() || !comms()->is_connected()) {
        showStatus(tr("Device not connected. Please connect to device first."));
        qDebug() << "Airport upload failed: CommsManager not connected";
        return;
    }
    const std::vector<vk61::DeviceInfo> units = comms()->device_snapshot();
    if (units.empty()) {
        showStatus(tr("No devices discovered for airport database update"));
        return;
    }
    if (airportRunning()) {
        showStatus(tr("Airport transfer already in progress"));
        return;
    }
    if (firmwareThread_) {
        showStatus(tr("Finish firmware update before airport transfer"));
        return;
    }

    // The file is read and its digest taken on a worker: a database of tens
    // of megabytes must not hold up the window. The controls stay off from
    // here to the end of the transfer.
    setAirportControlsEnabled(false);
    const QString path = airportFilePath_;
    const QString record_path = vk61::airport_record_path();
    QThread* reader = QThread::create([this, path, record_path, units] {
        auto read = std::make_shared<AirportRead>();
        read->record_path = record_path;
        // Read once, before anything is sent; every unit gets these bytes.
        read->database = vk61::load_airport_database(path, QString());
        if (read->database.ok()) {
            read->sha256 = vk61::sha256_hex(read->database.bytes->data(), read->database.bytes->size());
            read->offer = vk61::check_airport_resume(record_path, read->sha256, read->database.bytes->size(), units);
        }
        // The reader's last step: the tab joins it when this arrives.
        QMetaObject::invokeMethod(
            this, [this, read, units] { onAirportDatabaseRead(*read, units); }, Qt::QueuedConnection);
    });
    reader->setParent(this);  // joined in onAirportDatabaseRead or waitForWorkers
    airportThread_ = reader;
    reader->start(QThread::InheritPriority);
}

void UpdateTab::onAirportDatabaseRead(const AirportRead& read, const std::vector<vk61::DeviceInfo>& units) {
    if (QThread* reader = airportThread_) {
        reader->wait();  // it has posted this call and only returns
        delete reader;
    }
    airportThread_ = nullptr;
    if (!comms() || !comms()->is_connected()) {
        setAirportControlsEnabled(true);
        showStatus(tr("Device not connected. Please connect to device first."));
        qDebug() << "Airport upload failed: CommsManager not connected";
        return;
    }
    // A file that cannot be sent fails the first unit, none done.
    if (!read.database.ok()) {
        qDebug() << vk61::describe(read.database);
        vk61::AirportResult refused;
        refused.units_total = static_cast<int>(units.size());
        refused.failed_uid = units.front().uid;
        finishAirportTransfer(refused, false);
        return;
    }

    vk61::AirportJob job;
    job.database = read.database.bytes;
    job.sha256 = read.sha256;
    job.units = units;
    job.one_at_a_time = ui_->checkBox_one_unit_at_a_time->isChecked();
    job.record_path = read.record_path;
    const vk61::ResumeOffer& offer = read.offer;
    if (offer.verdict == vk61::ResumeVerdict::Resumable) {
        QMessageBox box(
            QMessageBox::Question, tr("Resume Airport Database Upload"),
            offer.text + QStringLiteral(".\n\n") + tr("Resume where it stopped? No starts the upload afresh."),
            QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, dialogs_);
        box.setDefaultButton(QMessageBox::Yes);
        const int answer = box.exec();
        if (answer == QMessageBox::Cancel) {
            setAirportControlsEnabled(true);
            showStatus(tr("Airport database transfer cancelled"));
            return;
        }
        if (answer == QMessageBox::Yes) job.resume_from = offer.progress;
    } else if (offer.verdict != vk61::ResumeVerdict::Fresh) {
        qDebug().noquote() << offer.text;
        showStatus(offer.text);
    }
    const bool together = job.resume_from.empty() && !job.one_at_a_time && units.size() > 1;

    ui_->progressBar_airports->setEnabled(true);
    ui_->progressBar_airports->setRange(0, vk61::progress::kBarMaximum);
    ui_->progressBar_airports->setValue(0);
    if (!job.resume_from.empty()) {
        showStatus(tr("Resuming airport database transfer to %1 device(s)...").arg(units.size()));
    } else {
        showStatus(tr("Starting airport database transfer to %1 device(s)...").arg(units.size()));
    }
    qDebug() << "Airport database upload:" << airportFilePath_ << "devices:" << units.size()
             << (together                  ? "at once"
                 : job.resume_from.empty() ? "one at a time"
                                           : "resumed");

    vk61::CommsManager* manager = comms();
    QThread* thread = QThread::create([this, manager, job, together] {
        TransferProgressContext context;
        context.tab = this;
        context.firmware = false;
        context.units = static_cast<int>(job.units.size());
        const vk61::AirportJobResult ran = vk61::run_airport_job(
            *manager, job,
            [&context](std::uint8_t uid, int position, int total) {
                context.uid = uid;
                context.position = position;
                context.count = total;
                context.throttle.reset();
            },
            progressTo(context));
        if (!ran.record.ok()) qDebug().noquote() << vk61::describe(ran.record);
        QMetaObject::invokeMethod(
            this, [this, result = ran.result, together] { finishAirportTransfer(result, together); },
            Qt::QueuedConnection);
    });
    thread->setParent(this);  // see startFirmwareUpdate
    airportThread_ = thread;
    connect(thread, &QThread::finished, thread, &QObject::deleteLater);
    thread->start(QThread::InheritPriority);
}

void UpdateTab::finishAirportTransfer(const vk61::AirportResult& result, bool together) {
    onAirportTransferFinished(result);
    if (const QString units = vk61::airportUnitsText(result, together); !units.isEmpty()) showStatus(units);
}

void UpdateTab::setAirportControlsEnabled(bool enabled) {
    for (QWidget* control :
         {static_cast<QWidget*>(ui_->pushButton_browse_airports), static_cast<QWidget*>(ui_->pushButton_fetch_apt_db),
          static_cast<QWidget*>(ui_->pushButton_start_airport), static_cast<QWidget*>(ui_->text_firmware_file_2),
          static_cast<QWidget*>(ui_->checkBox_one_unit_at_a_time)}) {
        control->setEnabled(enabled);
    }
}

void UpdateTab::onAirportTransferFinished(const vk61::AirportResult& result) {
    setAirportControlsEnabled(true);
    ui_->progressBar_airports->setRange(0, vk61::progress::kBarMaximum);
    ui_->progressBar_airports->setValue(result.ok() ? vk61::progress::kBarMaximum : 0);
    showStatus(vk61::airportStatusText(result));
    airportThread_ = nullptr;
}

}  // namespace vk61
