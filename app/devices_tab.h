// The "Devices" tab: the table with one row per registry record (state,
// name, serial number, update availability, and the two per-unit options),
// the Save devices button's state, and the reboot with its wait for the
// units to come back.
//
// It reads the configuration model it is given and never edits it: option
// changes leave as optionEdited, which the window passes to the
// configuration's owner. GUI thread only; the reboot and its wait run on the
// window's bus worker.
#pragma once

#include <QList>
#include <QObject>

#include <cstdint>
#include <functional>

#include "core/reboot_wait.h"
#include "downloads/firmware_package.h"

class QCheckBox;
class QComboBox;
class QPushButton;
class QStatusBar;
class QTableWidget;

namespace vk61 {

class BusWorker;
class CommsManager;
class ConfigModel;

class DevicesTab : public QObject {
    Q_OBJECT

public:
    // The firmware packages the name and update columns are looked up in;
    // called on every refresh.
    using PackageList = std::function<const QList<vk61::FirmwarePackage>&()>;

    DevicesTab(QTableWidget* table, QPushButton* save_button, QStatusBar* status_bar, const vk61::ConfigModel& model,
               PackageList packages, BusWorker* worker, QObject* parent, RebootWaitTimings timings = {});

    // The manager the rows come from and the reboot goes to; null before
    // the link is opened.
    void setComms(vk61::CommsManager* comms) { comms_ = comms; }

    // Rebuilds the table from the registry and the model.
    void refresh();
    // Save devices is offered while an option edit is not yet stored.
    void showOptionsPending(bool pending);
    // Sends the reboot command and checks for the units until one is heard,
    // or with expected (bit n for UID n) every one of those, on the bus
    // worker; returns at once. Once they are back, whenBack runs if given,
    // else devicesBack is emitted.
    void reboot(std::uint32_t expected = 0, std::function<void()> whenBack = {});
    // A default-screen box changed to item index.
    void defaultScreenChosen(QComboBox* box, int index);

signals:
    void optionEdited(int index, std::uint32_t value);
    // A unit answered after the reboot.
    void devicesBack();

private:
    void fitTableHeight();
    void terminationToggled(QCheckBox* box, bool on);
    void showStatus(const QString& text);
    // While a bus exchange runs the option boxes and Save devices take no
    // clicks: the worker says when one starts and ends.
    bool exchangeRunning() const;
    void showExchangeRunning();

    QTableWidget* table_;
    QPushButton* save_button_;
    QStatusBar* status_bar_;
    const vk61::ConfigModel& model_;
    PackageList packages_;
    BusWorker* worker_;
    vk61::CommsManager* comms_ = nullptr;
    const RebootWaitTimings timings_;
    bool options_pending_ = false;
};

}  // namespace vk61
