// The devices tab's reboot: the command to the units and the wait for them
// to come back, both on the bus worker (see wait_for_units_after_reboot).
#include <QDebug>

#include "bus_worker.h"
#include "comms_manager.h"
#include "core/store_texts.h"
#include "core/update_check.h"
#include "devices_tab.h"

namespace vk61 {

void DevicesTab::reboot(std::uint32_t expected, std::function<void()> whenBack) {
    if (!comms_ || !comms_->is_connected()) {
        qDebug() << "No communication interface connected";
        showStatus(tr("Error: %1").arg(notConnectedText()));
        return;
    }
    enum class Outcome { NotSent, Back, NotBack, Stopped };
    struct Waited {
        Outcome outcome;
        std::uint32_t heard = 0;
    };
    vk61::CommsManager* comms = comms_;
    const RebootWaitTimings timings = timings_;
    const bool started = worker_->run<Waited>(
        [this, comms, timings, expected](const std::atomic<bool>& stop) {
            if (!comms->reboot_devices()) return Waited{Outcome::NotSent};
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
            if (heard != 0 && (heard & expected) == expected) return Waited{Outcome::Back, heard};
            return Waited{stop ? Outcome::Stopped : Outcome::NotBack, heard};
        },
        [this, expected, whenBack = std::move(whenBack)](Waited waited) {
            switch (waited.outcome) {
            case Outcome::NotSent:
                qDebug() << "Failed to send reboot command";
                showStatus(tr("Error: Failed to send reboot command"));
                return;
            case Outcome::Back:
                if (whenBack) {
                    whenBack();
                } else {
                    emit devicesBack();
                }
                return;
            case Outcome::NotBack:
                // A wait for given units names those that did not answer.
                if (expected != 0) {
                    showStatus(unitsNotBackText(expected, waited.heard));
                    return;
                }
                showStatus(tr("Devices did not reappear after reboot"));
                return;
            case Outcome::Stopped: showStatus(tr("Waiting for the units after the reboot was cancelled")); return;
            }
        },
        /*cancellable=*/true);
    if (!started) showStatus(tr("Another exchange with the units is running; reboot when it has ended"));
}

}  // namespace vk61
