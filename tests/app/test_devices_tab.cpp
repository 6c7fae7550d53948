// The devices tab against the simulated installation: what the table shows,
// the two option boxes, storing the options on the units, rebooting and the
// reconnect after a pulled cable. Results are read from the real widgets and
// from what the simulated units hold.
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QPushButton>
#include <QSpinBox>
#include <QStatusBar>
#include <QTableWidget>
#include <QTest>

#include <algorithm>

#include "window_test_support.h"

using windowtest::SimulatedWindow;

namespace {

constexpr int kColConnected = 0;
constexpr int kColDevice = 1;
constexpr int kColSerial = 2;
constexpr int kColUpdate = 3;
constexpr int kColTermination = 4;
constexpr int kColScreen = 5;

QTableWidget* table(const SimulatedWindow& sw) { return sw.widget<QTableWidget>("table_devices"); }

QString cell(const SimulatedWindow& sw, int row, int column) {
    QTableWidgetItem* item = table(sw)->item(row, column);
    return item != nullptr ? item->text() : QString();
}

int rowOfUid(const SimulatedWindow& sw, int uid) {
    for (int row = 0; row < table(sw)->rowCount(); ++row) {
        auto* box = table(sw)->cellWidget(row, kColTermination)->findChild<QCheckBox*>();
        if (box != nullptr && box->property("deviceUid").toInt() == uid) return row;
    }
    return -1;
}

QCheckBox* terminationBox(const SimulatedWindow& sw, int uid) {
    const int row = rowOfUid(sw, uid);
    return row < 0 ? nullptr : table(sw)->cellWidget(row, kColTermination)->findChild<QCheckBox*>();
}

QComboBox* screenBox(const SimulatedWindow& sw, int uid) {
    const int row = rowOfUid(sw, uid);
    return row < 0 ? nullptr : table(sw)->cellWidget(row, kColScreen)->findChild<QComboBox*>();
}

// Replaces the default units by the given ones; call right after the
// window was created, before the event loop ran its connection step.
void replaceUnits(SimulatedWindow& sw, const std::vector<sim::UnitSpec>& units) {
    for (std::uint8_t uid : sw.bus.unit_uids()) sw.bus.remove_unit(uid);
    for (const sim::UnitSpec& unit_spec : units) sw.bus.add_unit(unit_spec);
}

sim::UnitSpec unit(std::uint8_t uid, std::uint32_t device_id) {
    sim::UnitSpec unit_spec;
    unit_spec.uid = uid;
    unit_spec.device_id = device_id;
    return unit_spec;
}

// Sets one configuration element on every unit (RAM, checksum kept valid).
void setElementEverywhere(SimulatedWindow& sw, unsigned index, std::uint32_t value) {
    for (std::uint8_t uid : sw.bus.unit_uids()) windowtest::setDeviceElement(sw.bus, uid, index, value);
}

std::vector<unsigned> writtenIndices(const SimulatedWindow& sw) {
    std::vector<unsigned> out;
    for (const vk61::BusFrame& frame : sw.hostFrames(0x390)) out.push_back(frame.data()[0]);
    return out;
}

}  // namespace

class DevicesTabTest : public QObject {
    Q_OBJECT

private slots:
    // Product settings with a 20 ms wait before the first load; the
    // product's own reboot checks.
    static vk61::WindowSettings settings() {
        vk61::WindowSettings settings = windowtest::offTheNetwork();
        settings.initial_load_delay_ms = 20;
        return settings;
    }
    // The same with the given reboot-check intervals.
    static vk61::WindowSettings settings(int first_reboot_check_ms, int next_reboot_check_ms) {
        vk61::WindowSettings shortened = settings();
        shortened.reboot.first_check = std::chrono::milliseconds(first_reboot_check_ms);
        shortened.reboot.next_check = std::chrono::milliseconds(next_reboot_check_ms);
        return shortened;
    }

    void table_ordersNamesAndDescribesUnits() {
        SimulatedWindow sw(3, settings());
        replaceUnits(sw, {unit(4, 0xFF010004), unit(1, 0xC3010001), unit(2, 0xD5020002), unit(5, 0x1A000005)});
        QVERIFY(sw.waitForInitialLoad());
        // A UID the bus calls occupied but that has not said who it is.
        sw.bus.send_occupancy_report((1u << 1) | (1u << 2) | (1u << 3) | (1u << 4) | (1u << 5), 1u << 1);
        QTRY_COMPARE(table(sw)->rowCount(), 5);

        // Halvard first, then by UID: 1, 2, 3 (placeholder), 4, 5.
        QCOMPARE(rowOfUid(sw, 1), 0);
        QCOMPARE(rowOfUid(sw, 2), 1);
        QCOMPARE(rowOfUid(sw, 3), 2);
        QCOMPARE(rowOfUid(sw, 4), 3);
        QCOMPARE(rowOfUid(sw, 5), 4);

        // No manifest: names come from the type table, updates are unknown.
        QCOMPARE(cell(sw, 0, kColDevice), QString("Halvard"));
        QCOMPARE(cell(sw, 0, kColSerial), QString("0xC3010001"));
        QCOMPARE(cell(sw, 0, kColUpdate), QString("Unknown"));
        QCOMPARE(cell(sw, 1, kColDevice), QString("Tessaly"));
        QCOMPARE(cell(sw, 3, kColDevice), QString("Morrow"));
        QCOMPARE(cell(sw, 4, kColDevice), QString("Unknown (0x1a)"));
        QCOMPARE(cell(sw, 4, kColSerial), QString("0x1A000005"));

        QCOMPARE(cell(sw, 2, kColDevice), QString("Discovering…"));
        QCOMPARE(cell(sw, 2, kColSerial), QString("UID 3"));
        QCOMPARE(cell(sw, 2, kColUpdate), QString("—"));

        // Connected: occupied and alive (UID 1); occupied but not alive is
        // not connected (the others), whatever the link says.
        QCOMPARE(cell(sw, 0, kColConnected), QString("✅"));
        QCOMPARE(cell(sw, 1, kColConnected), QString("❌"));
        QCOMPARE(cell(sw, 2, kColConnected), QString("❌"));
        // Not occupied but the link is up: connected.
        sw.bus.send_occupancy_report(1u << 1, 1u << 1);
        QTRY_COMPARE(table(sw)->rowCount(), 4);  // the placeholder is gone
        QCOMPARE(cell(sw, rowOfUid(sw, 2), kColConnected), QString("✅"));
    }

    void termination_atMostTwoUnits() {
        SimulatedWindow sw(6, settings());
        setElementEverywhere(sw, 34, 0x0006);
        QVERIFY(sw.waitForInitialLoad());
        QTRY_COMPARE(table(sw)->rowCount(), 6);

        QVERIFY(terminationBox(sw, 1)->isChecked());
        QVERIFY(terminationBox(sw, 2)->isChecked());
        QVERIFY(!terminationBox(sw, 5)->isChecked());
        QVERIFY(!sw.widget<QPushButton>("pushButton_save_devices")->isEnabled());

        terminationBox(sw, 5)->click();
        QVERIFY(!terminationBox(sw, 5)->isChecked());
        QCOMPARE(sw.status(), QString("Only two devices may have termination enabled at the same time."));
        QCOMPARE(vk61::config_get_value(sw.window->configRecord(), 34), 0x0006u);
        QCOMPARE(sw.window->pendingChangeSet().count(34), std::size_t{0});

        terminationBox(sw, 1)->click();
        QCOMPARE(vk61::config_get_value(sw.window->configRecord(), 34), 0x0004u);
        QCOMPARE(sw.window->pendingChangeSet().count(34), std::size_t{1});
        QVERIFY(sw.widget<QPushButton>("pushButton_save_devices")->isEnabled());
    }

    void defaultScreen_showsAndStoresTheUnitsByte() {
        SimulatedWindow sw(6, settings());
        // UID 1 byte 9 (out of range: shown as AHRS), UID 2 byte 6 (no such
        // screen: shown as the first item).
        setElementEverywhere(sw, 36, 0x00060900);
        QVERIFY(sw.waitForInitialLoad());
        QTRY_COMPARE(table(sw)->rowCount(), 6);
        QCOMPARE(screenBox(sw, 1)->currentText(), QString("AHRS"));
        QCOMPARE(screenBox(sw, 2)->currentText(), QString("Splash"));

        screenBox(sw, 6)->setCurrentIndex(screenBox(sw, 6)->findText("Airspeed"));
        QCOMPARE(vk61::config_get_value(sw.window->configRecord(), 37), 0x00030000u);
        QCOMPARE(sw.window->configRecord().default_screen(6), std::uint8_t{3});
        QCOMPARE(sw.window->pendingChangeSet(), (std::set<int>{37}));
        QVERIFY(sw.widget<QPushButton>("pushButton_save_devices")->isEnabled());
    }

    void saveDevices_sendsOnlyWhatChangedThenStores() {
        SimulatedWindow sw(3, settings());
        setElementEverywhere(sw, 34, 0);
        QVERIFY(sw.waitForInitialLoad());
        QTRY_COMPARE(table(sw)->rowCount(), 3);
        terminationBox(sw, 3)->click();
        sw.bus.clear_host_frames();

        sw.click("pushButton_save_devices");
        QCOMPARE(sw.status(), QString("Device settings saved to EEPROM successfully"));
        QCOMPARE(writtenIndices(sw), (std::vector<unsigned>{34}));
        const std::vector<sim::HostFrame> frames = sw.bus.host_frames();
        const auto write = std::find_if(frames.begin(), frames.end(), [](const sim::HostFrame& f) {
            return (f.frame.identifier() & 0x7F0u) == 0x390;
        });
        const auto store = std::find_if(frames.begin(), frames.end(), [](const sim::HostFrame& f) {
            return (f.frame.identifier() & 0x7F0u) == 0x3A0;
        });
        QVERIFY(write != frames.end() && store != frames.end() && write < store);
        QCOMPARE(sw.hostFrames(0x3A0).size(), std::size_t{1});
        QVERIFY(!sw.widget<QPushButton>("pushButton_save_devices")->isEnabled());
        QVERIFY(sw.window->pendingChangeSet().empty());

        // Every unit stored the new mask, and the checksum it stored is the
        // CRC of its own record.
        const std::uint32_t stored_crc = vk61::get_u32(sw.hostFrames(0x3A0).front().data());
        for (std::uint8_t uid : sw.bus.unit_uids()) {
            QCOMPARE(*sw.bus.eeprom_element(uid, 34), 0x0008u);
            QCOMPARE(*sw.bus.eeprom_element(uid, 252), stored_crc);
        }
        QCOMPARE(sw.window->deviceChecksumValue(), stored_crc);
        QCOMPARE(vk61::config_crc(sw.window->configRecord()), stored_crc);
    }

    void saveDevices_screensOfUid1And9_send36Then38() {
        SimulatedWindow sw(9, settings());
        QVERIFY(sw.waitForInitialLoad());
        QTRY_COMPARE(table(sw)->rowCount(), 9);
        screenBox(sw, 9)->setCurrentIndex(screenBox(sw, 9)->findText("Altimeter"));
        screenBox(sw, 1)->setCurrentIndex(screenBox(sw, 1)->findText("ADSB"));
        sw.bus.clear_host_frames();

        sw.click("pushButton_save_devices");
        QCOMPARE(sw.status(), QString("Device settings saved to EEPROM successfully"));
        QCOMPARE(writtenIndices(sw), (std::vector<unsigned>{36, 38}));
        for (std::uint8_t uid : sw.bus.unit_uids()) {
            QCOMPARE((*sw.bus.eeprom_element(uid, 36) >> 8) & 0xFFu, 2u);  // UID 1: ADSB
            QCOMPARE((*sw.bus.eeprom_element(uid, 38) >> 8) & 0xFFu, 4u);  // UID 9: Altimeter
        }
    }

    // The store covers the whole record: an unsent Settings-tab edit goes out
    // before it, so no unit stores old values under the new CRC.
    void saveDevices_sendsUnsentSettingsBeforeTheStore() {
        SimulatedWindow sw(2, settings());
        setElementEverywhere(sw, 34, 0);
        QVERIFY(sw.waitForInitialLoad());
        QTRY_COMPARE(table(sw)->rowCount(), 2);
        sw.widget<QSpinBox>("spinBox_vs1")->setValue(57);
        terminationBox(sw, 1)->click();
        sw.bus.clear_host_frames();

        sw.click("pushButton_save_devices");
        QCOMPARE(sw.status(), QString("Device settings saved to EEPROM successfully"));
        QCOMPARE(writtenIndices(sw), (std::vector<unsigned>{34, 3}));
        QVERIFY(sw.window->pendingChangeSet().empty());
        for (std::uint8_t uid : sw.bus.unit_uids()) {
            const auto image = sw.bus.eeprom_image(uid);
            QVERIFY(image);
            QCOMPARE(*sw.bus.eeprom_element(uid, 3), 57u);
            QCOMPARE(*sw.bus.eeprom_element(uid, 252), sim::config_image_crc(*image));
        }
    }

    void saveDevices_failedHeaderReadWritesNothing() {
        SimulatedWindow sw(3, settings());
        setElementEverywhere(sw, 34, 0);
        QVERIFY(sw.waitForInitialLoad());
        QTRY_COMPARE(table(sw)->rowCount(), 3);
        terminationBox(sw, 2)->click();
        sw.bus.clear_host_frames();
        // The read of the memory version and both of its retries.
        sw.bus.add_fault({sim::FaultKind::Drop, sim::ReplyKind::SettingReply, 0, 0, 0, 3});

        sw.click("pushButton_save_devices");
        QCOMPARE(sw.status(), QString("Error: Failed to read memory version from device"));
        QVERIFY(sw.diagnostics.messages().contains("Error reading memory version value"));
        QVERIFY(sw.hostFrames(0x390).empty());
        QVERIFY(sw.hostFrames(0x3A0).empty());
        QVERIFY(sw.widget<QPushButton>("pushButton_save_devices")->isEnabled());
        QCOMPARE(sw.window->pendingChangeSet().count(34), std::size_t{1});

        // The next click sends the same change again.
        sw.click("pushButton_save_devices");
        QCOMPARE(sw.status(), QString("Device settings saved to EEPROM successfully"));
        QCOMPARE(writtenIndices(sw), (std::vector<unsigned>{34}));
    }

    void saveDevices_withoutChangesOrLink() {
        SimulatedWindow sw(1, settings());
        QVERIFY(sw.waitForInitialLoad());
        // Save devices is offered only with an option edit pending: force the
        // click to see what the action itself says.
        auto* save = sw.widget<QPushButton>("pushButton_save_devices");
        save->setEnabled(true);
        sw.click("pushButton_save_devices");
        QCOMPARE(sw.status(), QString("No device changes to save"));
        sw.window->commsManager()->disconnect();
        save->setEnabled(true);
        sw.click("pushButton_save_devices");
        QCOMPARE(sw.status(), QString("Error: No communication interface connected (USB HID or CAN FD)"));
        sw.window->statusBar()->clearMessage();
        sw.click("pushButton_reboot");
        QCOMPARE(sw.status(), QString("Error: No communication interface connected (USB HID or CAN FD)"));
    }

    void reboot_waitEndsWhenAUnitIsAliveAgain() {
        SimulatedWindow sw(3, settings(250, 50));
        QVERIFY(sw.waitForInitialLoad());
        // As on a real bus: replies take a little while and occupancy
        // reports come regularly, so a check sees the flags of the last one.
        sw.bus.set_latency(std::chrono::milliseconds(2));
        sw.bus.set_occupancy_interval(std::chrono::milliseconds(100));
        sw.bus.set_reboot_duration(std::chrono::milliseconds(600));
        QTRY_VERIFY_WITH_TIMEOUT(sw.window->commsManager()->device_snapshot().front().alive, 2000);
        sw.statuses.clear();

        sw.widget<QPushButton>("pushButton_reboot_2")->click();
        QTRY_VERIFY(sw.statuses.contains("Reboot sent — waiting for device to reconnect"));
        QVERIFY(sw.hostFrames(0x3B0).size() == 1);
        QTRY_VERIFY_WITH_TIMEOUT(sw.statuses.contains("Device reconnected"), 5000);
        // The wait reloaded the configuration before it said so.
        const int loaded = sw.statuses.indexOf("Configuration successfully loaded from device");
        QVERIFY(loaded >= 0 && loaded < sw.statuses.indexOf("Device reconnected"));
    }

    // Units that stay silent after the reboot: alive flags left from before
    // it do not end the wait.
    void reboot_staleAliveFlagsDoNotCount() {
        SimulatedWindow sw(2, settings(5, 5));
        QVERIFY(sw.waitForInitialLoad());
        sw.bus.send_occupancy_report();  // every unit alive
        QTRY_VERIFY(sw.window->commsManager()->device_snapshot().front().alive);
        sw.bus.set_reboot_duration(std::chrono::seconds(60));
        sw.statuses.clear();
        sw.widget<QPushButton>("pushButton_reboot_2")->click();
        QTRY_COMPARE_WITH_TIMEOUT(sw.status(), QString("Devices did not reappear after reboot"), 5000);
        QVERIFY(!sw.statuses.contains("Device reconnected"));
        QVERIFY(sw.window->commsManager()->device_snapshot().front().alive);  // the stale flag
    }

    // With the product's own timings nothing is checked before 3000 ms: the
    // first WHOAMI after the reboot command, and "Device reconnected", come
    // no earlier.
    void reboot_productTimings_firstCheckAfterThreeSeconds() {
        SimulatedWindow sw(2, settings());
        QVERIFY(sw.waitForInitialLoad());
        sw.bus.set_reboot_duration(std::chrono::milliseconds(100));
        QElapsedTimer clock;
        qint64 reconnected_ms = -1;
        QObject::connect(sw.window->statusBar(), &QStatusBar::messageChanged, sw.window.get(),
                         [&](const QString& text) {
                             if (reconnected_ms < 0 && text.startsWith("Device reconnected"))
                                 reconnected_ms = clock.elapsed();
                         });
        sw.bus.clear_host_frames();
        clock.start();
        sw.widget<QPushButton>("pushButton_reboot_2")->click();
        QTRY_VERIFY_WITH_TIMEOUT(reconnected_ms >= 0, 8000);
        QVERIFY2(reconnected_ms >= 3000, qPrintable(QString::number(reconnected_ms)));

        const std::vector<sim::HostFrame> frames = sw.bus.host_frames();
        const auto reboot =
            std::find_if(frames.begin(), frames.end(), [](const sim::HostFrame& f) { return f.frame.base() == 0x3B0; });
        QVERIFY(reboot != frames.end());
        const auto whoami =
            std::find_if(reboot, frames.end(), [](const sim::HostFrame& f) { return f.frame.base() == 0x010; });
        QVERIFY(whoami != frames.end());
        QVERIFY(whoami->at - reboot->at >= std::chrono::milliseconds(3000));
    }

    void reboot_bridgeGoneForGood_givesUpAfterSixtyChecks() {
        SimulatedWindow sw(2, settings(5, 5));
        QVERIFY(sw.waitForInitialLoad());
        sw.widget<QPushButton>("pushButton_reboot")->click();
        QTRY_VERIFY(sw.statuses.contains("Reboot sent — waiting for device to reconnect"));
        vhid::pull_cable();  // and never plugged back
        QTRY_COMPARE_WITH_TIMEOUT(sw.status(), QString("Devices did not reappear after reboot"), 5000);
        // No check after the sixtieth: the text stays.
        QTest::qWait(100);
        QCOMPARE(sw.status(), QString("Devices did not reappear after reboot"));
        vhid::plug_cable();
    }

    void cableReplug_refreshesAndReloads() {
        SimulatedWindow sw(3, settings());
        QVERIFY(sw.waitForInitialLoad());
        sw.statuses.clear();
        vhid::pull_cable();
        QTRY_VERIFY_WITH_TIMEOUT(!sw.window->commsManager()->is_connected(), 2000);
        sw.bus.clear_host_frames();
        vhid::plug_cable();
        QTRY_VERIFY_WITH_TIMEOUT(sw.statuses.contains("Device reconnected"), 5000);
        QCOMPARE(table(sw)->rowCount(), 3);
        // The reload read the whole record again: 4 header words, 40 settings.
        QCOMPARE(sw.hostFrames(0x370).size(), std::size_t{44});
    }
};

QTEST_MAIN(DevicesTabTest)
#include "test_devices_tab.moc"
