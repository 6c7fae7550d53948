// The devices tab's reboot: the command to the units and the wait for them
// to come back, both on the bus worker (see wait_for_units_after_reboot).
#include <QDebug>

#include "bus_worker.h"
#include "comms_manager.h"
#include "core/store_texts.h"
#include "devices_tab.h"

void DevicesTab::reboot() {
    if (!comms_ || !comms_->is_connected()) {
        qDebug() << "No communication interface connected";
        showStatus(tr("Error: %1").arg(notConnectedText()));
        return;
    }
    enum class Outcome { NotSent, Back, NotBack, Stopped };
    vk61::CommsManager* comms = comms_;
    const RebootWaitTimings timings = timings_;
    worker_->run<Outcome>(
        [this, comms, timings](const std::atomic<bool>& stop) {
            if (!comms->reboot_devices()) return Outcome::NotSent;
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
                [this] { QMetaObject::invokeMethod(this, [this] { refresh(); }, Qt::QueuedConnection); });
            if (heard != 0) return Outcome::Back;
            return stop ? Outcome::Stopped : Outcome::NotBack;
        },
        [this](Outcome outcome) {
            switch (outcome) {
            case Outcome::NotSent:
                qDebug() << "Failed to send reboot command";
                showStatus(tr("Error: Failed to send reboot command"));
                return;
            case Outcome::Back: emit devicesBack(); return;
            case Outcome::NotBack: showStatus(tr("Devices did not reappear after reboot")); return;
            case Outcome::Stopped: showStatus(tr("Waiting for the units after the reboot was cancelled")); return;
            }
        },
        /*cancellable=*/true);
}
