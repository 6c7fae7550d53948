// The devices tab's reboot: the command to the units and the wait for them
// to come back.
#include <QDebug>
#include <QTimer>

#include "comms_manager.h"
#include "devices_tab.h"

namespace {

constexpr int kLastRebootAttempt = 59;  // 60 checks in all

}  // namespace

void DevicesTab::reboot() {
    if (!comms_ || !comms_->is_connected()) {
        qDebug() << "No communication interface connected";
        showStatus(tr("Error: No communication interface connected (USB HID or CAN FD)"));
        return;
    }
    if (!comms_->reboot_devices()) {
        qDebug() << "Failed to send reboot command";
        showStatus(tr("Error: Failed to send reboot command"));
        return;
    }
    // Precise timers: a coarse one may fire up to 5% early, and no check may
    // come before the units had their 3000 ms.
    QTimer::singleShot(intervals_.first_check_ms, Qt::PreciseTimer, this,
                       [this] { checkAfterReboot(0, 0); });
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
void DevicesTab::checkAfterReboot(int attempt, std::uint64_t mark) {
    if (!comms_) {
        showStatus(tr("Devices did not reappear after reboot"));
        return;
    }
    if (attempt == 0) mark = comms_->hearing_mark();
    if (comms_->is_connected()) {
        comms_->rediscover();
        refresh();
        if (comms_->units_heard_since(mark) != 0) {
            emit devicesBack();
            return;
        }
    }
    if (attempt < kLastRebootAttempt) {
        QTimer::singleShot(intervals_.next_check_ms, Qt::PreciseTimer, this,
                           [this, attempt, mark] { checkAfterReboot(attempt + 1, mark); });
    } else {
        showStatus(tr("Devices did not reappear after reboot"));
    }
}
