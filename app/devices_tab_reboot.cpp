// The devices tab's reboot: the command to the units and the wait for them
// to come back, both on the bus worker (see wait_for_units_after_reboot).
#include <QDebug>

#include "bus_worker.h"
#include "comms_manager.h"
#include "core/reboot_wait.h"
#include "core/store_texts.h"
#include "result_text.h"
#include "devices_tab.h"

namespace vk61 {

void DevicesTab::reboot(std::uint32_t expected, std::function<void()> whenBack) {
    if (!comms_ || !comms_->is_connected()) {
        qDebug() << "No communication interface connected";
        showStatus(tr("Error: %1").arg(notConnectedText()));
        return;
    }
    vk61::CommsManager* comms = comms_;
    const RebootWaitTimings timings = timings_;
    const bool started = worker_->run<RebootResult>(
        [this, comms, timings, expected](const std::atomic<bool>& stop) {
            if (!comms->reboot_devices()) return RebootResult::not_sent();
            QMetaObject::invokeMethod(
                this,
                [this] {
                    qDebug() << "Reboot command sent successfully";
                    showStatus(tr("Reboot sent — waiting for device to reconnect"));
                },
                Qt::QueuedConnection);
            // Every check shows the table as the registry has it then.
            const std::uint32_t heard = wait_for_units_after_reboot(
                *comms, timings, &stop,
                [this] {
                    QMetaObject::invokeMethod(
                        this, [this] { refresh(); }, Qt::QueuedConnection);
                },
                expected);
            return RebootResult::after_wait(heard, expected, stop);
        },
        [this, whenBack = std::move(whenBack)](const RebootResult& result) {
            if (!result.ok()) {
                if (result.end == RebootEnd::NotSent) qDebug() << "Failed to send reboot command";
                showStatus(rebootStatusText(result));
                return;
            }
            if (whenBack) {
                whenBack();
            } else {
                emit devicesBack();
            }
        },
        /*cancellable=*/true);
    if (!started) showStatus(tr("Another exchange with the units is running; reboot when it has ended"));
}

}  // namespace vk61
