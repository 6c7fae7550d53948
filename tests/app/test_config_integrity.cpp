// The configuration on a bus that loses frames: a setting nobody read is
// never sent or stored, a failed write is sent again, a store counts only
// when the units report the checksum that was sent, and the reboot wait ends
// on what the units say, however fast they say it. Every case ends with what
// the units hold in EEPROM.
#include <QCheckBox>
#include <QElapsedTimer>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QTest>

#include <chrono>
#include <memory>

#include "config/config_record.h"
#include "core/config_timeouts.h"
#include "window_test_support.h"

namespace {

using namespace std::chrono_literals;
using windowtest::SimulatedWindow;

sim::Fault dropReads(unsigned index, unsigned times, unsigned skip = 0) {
    return sim::Fault{sim::FaultKind::Drop,   sim::ReplyKind::SettingReply, 0x370, 0, skip, times, 0,
                      static_cast<int>(index)};
}

sim::Fault loseWrite(unsigned index) {
    return sim::Fault{sim::FaultKind::LoseHostFrame, sim::ReplyKind::Any, 0x390, 0, 0, 1, 0, static_cast<int>(index)};
}

QCheckBox* terminationBox(const SimulatedWindow& sw, unsigned uid) {
    for (QCheckBox* box : sw.window->findChildren<QCheckBox*>()) {
        if (box->property("deviceUid").isValid() && box->property("deviceUid").toUInt() == uid) return box;
    }
    return nullptr;
}

}  // namespace

class ConfigIntegrityTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<SimulatedWindow> sw;

    const vk61::ConfigModel& model() const { return sw->window->configModel(); }

    void loadFresh() {
        sw->click("pushButton_load");
        QCOMPARE(sw->status(), QString("Configuration successfully loaded from device"));
        sw->bus.clear_host_frames();
        sw->diagnostics.clear();
        sw->statuses.clear();
    }

    // Every unit holds the same EEPROM record, whose stored checksum is the
    // CRC of its contents; returns it.
    sim::ConfigImage expectConsistentEeprom() {
        const auto first = sw->bus.eeprom_image(1);
        if (!first) return {};
        for (std::uint8_t uid : sw->bus.unit_uids()) {
            const auto image = sw->bus.eeprom_image(uid);
            if (!image) return {};
            if (*image != *first) qWarning("UID %u holds another record than UID 1", uid);
            if (*image != *first) return {};
            if (*sim::config_element(*image, 252) != sim::config_image_crc(*image)) {
                qWarning("UID %u stored checksum does not match its record", uid);
                return {};
            }
        }
        return *first;
    }

    std::map<std::uint8_t, sim::ConfigImage> eepromImages() const {
        std::map<std::uint8_t, sim::ConfigImage> out;
        for (std::uint8_t uid : sw->bus.unit_uids()) out[uid] = *sw->bus.eeprom_image(uid);
        return out;
    }

    void expectCleanReload() {
        sw->bus.clear_faults();
        sw->diagnostics.clear();
        sw->click("pushButton_load");
        QCOMPARE(sw->status(), QString("Configuration successfully loaded from device"));
        QCOMPARE(sw->diagnostics.logLinesStartingWith("CRC Check Passed.").size(), std::size_t{1});
        QCOMPARE(model().unknown_count(), 0u);
    }

private slots:
    void initTestCase() {
        vk61::WindowSettings settings = windowtest::offTheNetwork();
        settings.config_timeouts = {50, 200, 500};
        settings.initial_load_delay_ms = 1;                            // the first load need not wait 1.5 s here
        settings.reboot.first_check = std::chrono::milliseconds(100);  // the reboot tests need not wait 3 s
        settings.reboot.next_check = std::chrono::milliseconds(50);
        sw = std::make_unique<SimulatedWindow>(3, settings);
        QVERIFY(sw->waitForInitialLoad());
    }
    void cleanupTestCase() { sw.reset(); }
    void init() {
        sw->reset();
        sw->bus.set_latency(0us);
        sw->bus.set_whoami_at_once(false);
        sw->bus.set_occupancy_interval(0ms);
        loadFresh();
    }

    void lostReadRetried_loadsCleanly() {
        sw->bus.add_fault(dropReads(252, 1));
        sw->bus.add_fault(dropReads(14, 2));
        sw->click("pushButton_load");
        QCOMPARE(sw->status(), QString("Configuration successfully loaded from device"));
        QVERIFY(sw->diagnostics.messagesStartingWith("Warning: Failed to read").isEmpty());
        QCOMPARE(sw->diagnostics.logLinesStartingWith("CRC Check Passed.").size(), std::size_t{1});
        QCOMPARE(model().value(14), *sw->bus.ram_element(1, 14));
        QCOMPARE(model().unknown_count(), 0u);
    }

    // Settings unread (one, or two): they are marked, Save refuses before
    // sending anything, and the units keep what they stored.
    void unreadSettings_areMarkedAndSaveRefuses_data() {
        QTest::addColumn<std::vector<unsigned>>("unread");
        QTest::newRow("one") << std::vector<unsigned>{14};
        QTest::newRow("two") << std::vector<unsigned>{9, 14};
    }
    void unreadSettings_areMarkedAndSaveRefuses() {
        QFETCH(std::vector<unsigned>, unread);
        const auto before = eepromImages();
        for (const unsigned index : unread) sw->bus.add_fault(dropReads(index, 3));
        sw->click("pushButton_load");
        const QString count = QString::number(unread.size());
        QVERIFY2(sw->status().startsWith("Warning: " + count + " setting(s) could not be read"),
                 qPrintable(sw->status()));
        QCOMPARE(sw->diagnostics.messagesStartingWith("Warning: Failed to read value for index").size(),
                 static_cast<qsizetype>(unread.size()));
        QCOMPARE(model().unknown_settings(), unread);
        QVERIFY(!sw->widget<QPushButton>("color_picker_sky0")->isEnabled());
        QCOMPARE(sw->widget<QWidget>("min_volt_warn_value")->isEnabled(), unread.size() == 1);
        QVERIFY(sw->widget<QSpinBox>("spinBox_vne")->isEnabled());

        sw->bus.clear_host_frames();
        sw->widget<QSpinBox>("spinBox_vne")->setValue(200);
        sw->click("pushButton_save");
        QVERIFY2(sw->status().startsWith("Error: " + count + " setting(s) were not read from the EFIS"),
                 qPrintable(sw->status()));
        QVERIFY(sw->hostFrames(0x390).empty());
        QVERIFY(sw->hostFrames(0x3A0).empty());
        QCOMPARE(eepromImages(), before);
        QCOMPARE(sw->window->pendingChangeSet(), (std::set<int>{6}));

        expectCleanReload();
        QVERIFY(sw->widget<QPushButton>("color_picker_sky0")->isEnabled());
        QVERIFY(sw->widget<QWidget>("min_volt_warn_value")->isEnabled());
    }

    // The termination word unread: no termination box is offered, so no
    // click can store a mask built from the unread 0 (which would switch off
    // every other unit's termination); the units keep what they stored.
    void terminationUnread_boxesAreNotOffered() {
        const auto before = eepromImages();
        sw->bus.add_fault(dropReads(34, 3));
        sw->click("pushButton_load");
        QCOMPARE(model().unknown_settings(), (std::vector<unsigned>{34}));
        for (std::uint8_t uid : sw->bus.unit_uids()) {
            QVERIFY(!terminationBox(*sw, uid)->isEnabled());
            QVERIFY(terminationBox(*sw, uid)->toolTip().startsWith("Not read from the EFIS"));
        }
        terminationBox(*sw, 2)->click();
        QVERIFY(!sw->window->pendingChangeSet().count(34));
        sw->click("pushButton_save_devices");
        QCOMPARE(eepromImages(), before);
        expectCleanReload();
    }

    // The checksum read lost: the last record, the form and the table stay,
    // and a termination change then stores exactly what the user chose.
    void headerReadLost_keepsTheLastRecord() {
        const vk61::ConfigRecord before = sw->window->configRecord();
        const std::uint32_t checksum_before = sw->window->deviceChecksumValue();
        sw->bus.add_fault(dropReads(252, 3));
        sw->click("pushButton_load");
        QCOMPARE(sw->status(), QString("Error: Failed to read checksum from device"));
        QCOMPARE(sw->window->configRecord().bytes, before.bytes);
        QCOMPARE(sw->window->deviceChecksumValue(), checksum_before);
        QVERIFY(terminationBox(*sw, 1)->isChecked());

        // Termination moves from UID 3 to UID 2; UID 1 keeps its own.
        terminationBox(*sw, 3)->setChecked(false);
        terminationBox(*sw, 2)->setChecked(true);
        sw->click("pushButton_save_devices");
        QCOMPARE(sw->status(), QString("Device settings saved to EEPROM successfully"));
        const sim::ConfigImage stored = expectConsistentEeprom();
        QCOMPARE(*sim::config_element(stored, 34), 0x06u);
        QCOMPARE(*sim::config_element(stored, 6), *sim::config_element(sim::default_config_image(), 6));
        expectCleanReload();
    }

    void headerErased_isReportedAsNoStoredConfiguration() {
        const vk61::ConfigRecord before = sw->window->configRecord();
        for (std::uint8_t uid : sw->bus.unit_uids()) sw->bus.set_ram_element(uid, 253, 0xFFFFFFFFu);
        sw->click("pushButton_load");
        QCOMPARE(sw->status(), QString("Error: The EFIS holds no stored configuration"));
        QCOMPARE(sw->window->configRecord().bytes, before.bytes);
    }

    // The Vne write is lost on Update: it stays pending, Save sends it again
    // and the units store it under a checksum that matches.
    void lostWrite_staysPendingAndSaveSendsIt() {
        sw->widget<QSpinBox>("spinBox_vne")->setValue(200);
        sw->widget<QSpinBox>("spinBox_vmin")->setValue(40);
        sw->bus.add_fault(loseWrite(6));
        sw->click("pushButton_update");
        QCOMPARE(sw->status(), QString("Sent 1 value(s), 1 failed"));
        QCOMPARE(sw->window->pendingChangeSet(), (std::set<int>{6}));
        for (std::uint8_t uid : sw->bus.unit_uids()) QCOMPARE(*sw->bus.ram_element(uid, 1), 40u);

        sw->click("pushButton_save");
        QCOMPARE(sw->status(), QString("Configuration saved to EEPROM successfully"));
        const sim::ConfigImage stored = expectConsistentEeprom();
        QCOMPARE(*sim::config_element(stored, 6), 200u);
        QCOMPARE(*sim::config_element(stored, 1), 40u);
        QCOMPARE(*sim::config_element(stored, 252), sw->window->deviceChecksumValue());
        QVERIFY(sw->window->pendingChangeSet().empty());
        expectCleanReload();
    }

    // A write only UID 3 missed leaves the units disagreeing; a reload reads
    // UID 1 only, so the next store must send the value again.
    void writeMissedByOneUnit_isSentAgainAfterAReload() {
        sw->widget<QSpinBox>("spinBox_vne")->setValue(205);
        sw->bus.add_fault(sim::Fault{sim::FaultKind::LoseHostFrame, sim::ReplyKind::Any, 0x390, 3, 0, 1, 0, 6});
        sw->click("pushButton_update");
        QCOMPARE(sw->status(), QString("Sent 0 value(s), 1 failed"));
        QCOMPARE(*sw->bus.ram_element(1, 6), 205u);
        QVERIFY(*sw->bus.ram_element(3, 6) != 205u);

        sw->click("pushButton_load");  // reads 205 from UID 1; nothing pending now
        QVERIFY(sw->window->pendingChangeSet().empty());
        sw->widget<QSpinBox>("spinBox_vmin")->setValue(44);
        // The primary unit's 205 was never stored: Save asks first.
        bool asked = false;
        windowtest::answerNextMessageBox("messageBox_unstored_values", QMessageBox::Save, &asked);
        sw->click("pushButton_save");
        QVERIFY(asked);
        QCOMPARE(sw->status(), QString("Configuration saved to EEPROM successfully"));
        const sim::ConfigImage stored = expectConsistentEeprom();
        QCOMPARE(*sim::config_element(stored, 6), 205u);
        QCOMPARE(*sim::config_element(stored, 1), 44u);
        expectCleanReload();
    }

    void lostWriteDuringSave_storesNothing() {
        const auto before = eepromImages();
        sw->widget<QSpinBox>("spinBox_vne")->setValue(210);
        sw->bus.add_fault(loseWrite(6));
        sw->click("pushButton_save");
        QCOMPARE(sw->status(), QString("Error: Failed to send configuration value for index 6; nothing was stored"));
        QVERIFY(sw->hostFrames(0x3A0).empty());
        QCOMPARE(eepromImages(), before);
        QVERIFY(sw->window->pendingChangeSet().count(6) == 1);
        sw->click("pushButton_save");
        QCOMPARE(sw->status(), QString("Configuration saved to EEPROM successfully"));
        QCOMPARE(*sim::config_element(expectConsistentEeprom(), 6), 210u);
    }

    // The store is acknowledged but the primary unit then reports another
    // checksum, or none: the save does not count.
    void storeReadBack_mustMatch() {
        struct Row {
            const char* name;
            sim::Fault fault;
            const char* status;
        };
        const Row rows[] = {
            // The save reads 254 and 255 first; the first read of 252 is the read-back.
            {"mismatch",
             {sim::FaultKind::Corrupt, sim::ReplyKind::SettingReply, 0x370, 0, 0, 1, 2, 252},
             "Error: The EFIS holds checksum 0x"},
            {"no reply", dropReads(252, 3), "Error: The EFIS did not report its checksum after the store"},
        };
        for (const Row& row : rows) {
            init();
            const std::uint32_t checksum_before = sw->window->deviceChecksumValue();
            sw->widget<QSpinBox>("spinBox_vne")->setValue(190);
            sw->bus.add_fault(row.fault);
            sw->click("pushButton_save");
            QVERIFY2(sw->status().startsWith(row.status), qPrintable(QString(row.name) + ": " + sw->status()));
            QCOMPARE(sw->window->deviceChecksumValue(), checksum_before);
            QVERIFY2(sw->window->pendingChangeSet().count(6) == 1, row.name);
        }
    }

    void afterReboot_aLoadWarningStaysInView() {
        sw->bus.set_reboot_duration(300ms);
        sw->widget<QPushButton>("pushButton_reboot_2")->click();
        sw->bus.add_fault(dropReads(20, 3));
        QTRY_VERIFY_WITH_TIMEOUT(sw->status().startsWith("Device reconnected"), 5000);
        QVERIFY2(sw->status().startsWith("Device reconnected — Warning: 1 setting(s) could not be read"),
                 qPrintable(sw->status()));
        QCOMPARE(model().unknown_settings(), std::vector<unsigned>{20});
        expectCleanReload();
    }

    // The wait ends once a unit is heard after the reboot, whatever the
    // latency, the order of replies, and whether occupancy reports come.
    void rebootWait_endsOnAnyTiming() {
        struct Row {
            const char* name;
            std::chrono::milliseconds latency;
            std::chrono::milliseconds occupancy;
            bool whoami_at_once;
        };
        const Row rows[] = {
            {"latency 0, no reports", 0ms, 0ms, false},
            {"latency 0, reports every 0.5 s", 0ms, 500ms, false},
            {"latency 20 ms, no reports", 20ms, 0ms, false},
            {"latency 20 ms, reports every 0.5 s", 20ms, 500ms, false},
            {"WHOAMI at once, the rest 20 ms late", 20ms, 500ms, true},
        };
        sw->bus.set_reboot_duration(300ms);
        for (const Row& row : rows) {
            sw->bus.set_latency(row.latency);
            sw->bus.set_occupancy_interval(row.occupancy);
            sw->bus.set_whoami_at_once(row.whoami_at_once);
            sw->statuses.clear();
            sw->click("pushButton_reboot_2");
            QTRY_VERIFY2_WITH_TIMEOUT(sw->statuses.contains("Device reconnected"), row.name, 5000);
            QVERIFY2(!sw->statuses.contains("Devices did not reappear after reboot"), row.name);
        }
    }
};

QTEST_MAIN(ConfigIntegrityTest)
#include "test_config_integrity.moc"
