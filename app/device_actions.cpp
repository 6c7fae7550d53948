// The devices tab's two actions: storing the per-unit options on the units,
// and rebooting the units and waiting for them to come back.
#include <QDebug>
#include <QStatusBar>
#include <QTimer>

#include <algorithm>

#include "comms_manager.h"
#include "main_window.h"
#include "ui_mainwindow.h"

namespace {

constexpr int kLastRebootAttempt = 59;  // 60 checks in all

}  // namespace

// Blocks the GUI thread for two header reads, the writes of the pending
// options (and of other pending settings), the store and the read-back of
// the checksum (see ConfigExchange).
void MainWindow::onSaveDevicesClicked() {
    const QString backupError = comms && comms->is_connected() && model.has_device_changes()
                                    ? backupBeforeStore(QStringLiteral("before Save changes to EFIS"))
                                    : QString();
    const StoreResult result = configExchange().save_device_options();
    updateSaveDevicesButton();
    showStoreResult(result, true);
    showBackupError(backupError);
}

void MainWindow::onRebootClicked() {
    if (!comms || !comms->is_connected()) {
        qDebug() << "No communication interface connected";
        showStatus(tr("Error: No communication interface connected (USB HID or CAN FD)"));
        return;
    }
    if (!comms->reboot_devices()) {
        qDebug() << "Failed to send reboot command";
        showStatus(tr("Error: Failed to send reboot command"));
        return;
    }
    // Precise timers: a coarse one may fire up to 5% early, and no check may
    // come before the units had their 3000 ms.
    QTimer::singleShot(settings_.reboot_first_check_ms, Qt::PreciseTimer, this,
                       [this] { waitForDevicesAfterReboot(0, 0); });
    qDebug() << "Reboot command sent successfully";
    showStatus(tr("Reboot sent — waiting for device to reconnect"));
}

// One check of the reboot wait. A unit counts as back once it has been heard
// (a WHOAMI or client-information reply, or an occupancy report marking it
// alive) since the first check began, however fast and in whatever order its
// replies arrive: a fast reply to this check's WHOAMI counts at once, a slow
// one at the next check. An alive flag left from before the reboot does not
// count, nor does a reply that was on its way when the reboot command went
// out - hence the mark is taken at the first check, not at the command.
void MainWindow::waitForDevicesAfterReboot(int attempt, std::uint64_t mark) {
    if (!comms) {
        showStatus(tr("Devices did not reappear after reboot"));
        return;
    }
    if (attempt == 0) mark = comms->hearing_mark();
    if (comms->is_connected()) {
        comms->rediscover();
        refreshDeviceTable();
        if (comms->units_heard_since(mark) != 0) {
            onDeviceReconnected();
            return;
        }
    }
    if (attempt < kLastRebootAttempt) {
        QTimer::singleShot(settings_.reboot_next_check_ms, Qt::PreciseTimer, this,
                           [this, attempt, mark] { waitForDevicesAfterReboot(attempt + 1, mark); });
    } else {
        showStatus(tr("Devices did not reappear after reboot"));
    }
}

void MainWindow::onDeviceReconnected() {
    refreshDeviceTable();
    // A load that could not read everything keeps its warning in view.
    if (loadConfiguration()) {
        showStatus(tr("Device reconnected"));
    } else {
        showStatus(tr("Device reconnected — %1").arg(statusBar()->currentMessage()));
    }
}
