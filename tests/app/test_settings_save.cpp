// "Update Settings on EFIS" and "Save settings to EFIS" against the simulated
// installation: what goes out on the bus, what the units end up storing, and
// what the window remembers afterwards.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QPlainTextEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QSpinBox>
#include <QTableWidget>
#include <QTest>
#include <QTimer>

#include <cstdio>
#include <map>
#include <memory>

#include "config/config_record.h"
#include "core/config_timeouts.h"
#include "window_test_support.h"

namespace {

constexpr std::uint8_t kPrimary = 1;

sim::Fault ackFault(sim::FaultKind kind, std::uint16_t command, std::uint8_t uid, unsigned skip) {
    sim::Fault fault;
    fault.kind = kind;
    fault.reply = sim::ReplyKind::SequencedAck;
    fault.command = command;
    fault.uid = uid;
    fault.skip = skip;
    return fault;
}

sim::Fault dropSettingReplies(int index, unsigned times) {
    sim::Fault fault;
    fault.kind = sim::FaultKind::Drop;
    fault.reply = sim::ReplyKind::SettingReply;
    fault.command = 0x370;
    fault.times = times;
    fault.index = index;
    return fault;
}

std::vector<int> writtenIndices(const std::vector<vk61::BusFrame>& writes) {
    std::vector<int> out;
    for (const vk61::BusFrame& f : writes) out.push_back(f.data()[0]);
    return out;
}

}  // namespace

class SettingsSaveTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<windowtest::SimulatedWindow> sim;

    template <typename T>
    T* w(const char* name) {
        T* found = sim->widget<T>(name);
        if (found == nullptr) qFatal("no widget %s", name);
        return found;
    }
    const vk61::ConfigRecord& record() const { return sim->window->configRecord(); }
    std::uint32_t setting(unsigned index) const { return vk61::config_get_value(record(), index); }
    const std::set<int>& pending() const { return sim->window->pendingChangeSet(); }
    void setColour(const char* button, const char* colour) {
        windowtest::chooseColour(w<QPushButton>(button), QColor(colour));
    }
    // Loads the device's configuration into a clean form.
    void loadFresh() {
        sim->click("pushButton_load");
        QCOMPARE(sim->status(), QString("Configuration successfully loaded from device"));
        sim->bus.clear_host_frames();
        sim->diagnostics.clear();
        sim->statuses.clear();
    }
    std::uint32_t storedCrc() const {
        const auto stores = sim->hostFrames(0x3A0);
        return stores.empty() ? 0 : vk61::get_u32(stores.back().data());
    }

private slots:
    void initTestCase() {
        vk61::WindowSettings settings = windowtest::offTheNetwork();
        settings.config_timeouts = {50, 200, 500};
        settings.initial_load_delay_ms = 1;  // the first load need not wait 1.5 s here
        sim = std::make_unique<windowtest::SimulatedWindow>(3, settings);
        QVERIFY(sim->waitForInitialLoad());
    }
    void cleanupTestCase() { sim.reset(); }
    void init() {
        sim->reset();
        loadFresh();
    }

    // ---- Update ----

    void update_sendsPendingInAscendingOrder() {
        setColour("color_picker_sky0", "#123456");
        w<QSpinBox>("spinBox_vmin")->setValue(40);
        QCOMPARE(pending(), (std::set<int>{1, 14}));
        sim->click("pushButton_update");
        QCOMPARE(writtenIndices(sim->hostFrames(0x390)), (std::vector<int>{1, 14}));
        QCOMPARE(sim->status(), QString("Successfully sent 2 configuration value(s) to device"));
        QVERIFY(pending().empty());
        for (std::uint8_t uid : sim->bus.unit_uids()) {
            QCOMPARE(*sim->bus.ram_element(uid, 1), 40u);
            QCOMPARE(*sim->bus.ram_element(uid, 14), 0xFF123456u);
        }
        QVERIFY(sim->hostFrames(0x3A0).empty());  // an update stores nothing
    }

    // A failed write stays pending: the next Update sends it again.
    void update_failedWriteStaysPending() {
        w<QSpinBox>("spinBox_vmin")->setValue(40);
        w<QSpinBox>("spinBox_vs0")->setValue(41);
        w<QSpinBox>("spinBox_vs1")->setValue(42);
        sim->bus.add_fault(ackFault(sim::FaultKind::Nack, 0x390, 2, 1));  // UID 2 refuses the second write
        sim->click("pushButton_update");
        QCOMPARE(writtenIndices(sim->hostFrames(0x390)), (std::vector<int>{1, 2, 3}));
        QCOMPARE(sim->status(), QString("Sent 2 value(s), 1 failed"));
        QVERIFY(sim->diagnostics.messages().contains("Failed to send value for index 2"));
        QCOMPARE(pending(), std::set<int>{2});

        sim->bus.clear_host_frames();
        sim->click("pushButton_update");
        QCOMPARE(sim->status(), QString("Successfully sent 1 configuration value(s) to device"));
        QCOMPARE(writtenIndices(sim->hostFrames(0x390)), (std::vector<int>{2}));
        for (std::uint8_t uid : sim->bus.unit_uids()) QCOMPARE(*sim->bus.ram_element(uid, 2), 41u);
        QVERIFY(pending().empty());
    }

    void update_withNothingPending() {
        sim->click("pushButton_update");
        QCOMPARE(sim->status(), QString("No changes to send"));
        QVERIFY(sim->hostFrames(0x390).empty());
    }

    void update_sendsDeviceOptionsToo() {
        auto* table = w<QTableWidget>("table_devices");
        QCheckBox* box = table->cellWidget(0, 4)->findChild<QCheckBox*>();
        box->setChecked(!box->isChecked());
        QVERIFY(w<QPushButton>("pushButton_save_devices")->isEnabled());
        sim->click("pushButton_update");
        QCOMPARE(writtenIndices(sim->hostFrames(0x390)), (std::vector<int>{34}));
        QVERIFY(!w<QPushButton>("pushButton_save_devices")->isEnabled());
    }

    // ---- Save ----

    // The full round trip: edit in the form, save without a separate update,
    // load again: the same form, the same record, and the check passes.
    void save_thenLoad_showsExactlyWhatWasSaved() {
        w<QSpinBox>("spinBox_vmin")->setValue(60);
        w<QSpinBox>("spinBox_vne")->setValue(200);
        w<QDoubleSpinBox>("min_volt_warn_value")->setValue(12.3);
        w<QDoubleSpinBox>("max_volt_alert_value")->setValue(16.7);
        w<QComboBox>("comboBox_airspeed")->setCurrentIndex(2);
        w<QComboBox>("comboBox_pressure")->setCurrentIndex(1);
        auto* prefixes = w<QComboBox>("comboBox_reg_prefix");
        prefixes->setCurrentIndex(prefixes->findText("D"));
        w<QPlainTextEdit>("text_registration_num")->setPlainText("-EABC");
        w<QPlainTextEdit>("text_icao")->setPlainText("3C4D5E");
        w<QComboBox>("comboBox_emitter_cat")->setCurrentIndex(9);
        w<QSlider>("backlight_slider")->setValue(3);
        w<QSlider>("text_bg_alpha_slider")->setValue(17);
        w<QDoubleSpinBox>("roll_corr_spinbox")->setValue(-1.5);
        w<QDoubleSpinBox>("pitch_corr_spinbox")->setValue(2.5);
        w<QRadioButton>("radioButton_rand_icao")->click();
        w<QComboBox>("comboBox_map_view")->setCurrentIndex(1);
        setColour("color_picker_airplane", "#ffffff");
        setColour("color_picker_red", "#c00001");
        const QStringList form = windowtest::settingsFormSnapshot(*sim->window);

        sim->click("pushButton_save");
        QCOMPARE(sim->status(), QString("Configuration saved to EEPROM successfully"));
        const std::uint32_t crc = vk61::config_crc(record());
        char line[32];
        std::snprintf(line, sizeof line, "New CRC %08X\n", crc);
        QCOMPARE(sim->diagnostics.logLinesStartingWith("New CRC"), std::vector<std::string>{line});
        QCOMPARE(storedCrc(), crc);
        QCOMPARE(record().checksum(), crc);
        QCOMPARE(sim->window->deviceChecksumValue(), crc);
        QVERIFY(pending().empty());
        QCOMPARE(windowtest::settingsFormSnapshot(*sim->window), form);
        // Every unit stored exactly the record whose CRC went with the store.
        for (std::uint8_t uid : sim->bus.unit_uids()) {
            QCOMPARE(*sim->bus.eeprom_image(uid), record().bytes);
            QCOMPARE(sim::config_image_crc(*sim->bus.eeprom_image(uid)), crc);
        }

        const vk61::ConfigRecord saved = record();
        sim->diagnostics.clear();
        sim->click("pushButton_load");
        QCOMPARE(sim->status(), QString("Configuration successfully loaded from device"));
        QCOMPARE(sim->diagnostics.logLinesStartingWith("CRC Check"), std::vector<std::string>{"CRC Check Passed.\n"});
        QCOMPARE(record().bytes, saved.bytes);
        QCOMPARE(windowtest::settingsFormSnapshot(*sim->window), form);
    }

    void save_sendsOnlyWhatTheDeviceLacks() {
        sim->click("pushButton_save");
        QCOMPARE(sim->status(), QString("Configuration saved to EEPROM successfully"));
        QVERIFY(sim->hostFrames(0x390).empty());  // form and device agree: nothing to send
        QCOMPARE(storedCrc(), sim::config_image_crc(*sim->bus.ram_image(kPrimary)));

        sim->bus.clear_host_frames();
        w<QSpinBox>("spinBox_vs0")->setValue(47);
        setColour("color_picker_sky1", "#010203");
        sim->click("pushButton_save");
        QCOMPARE(writtenIndices(sim->hostFrames(0x390)), (std::vector<int>{2, 15}));
        QCOMPARE(*sim->bus.eeprom_element(kPrimary, 2), 47u);
    }

    // A registration without a known prefix is shown under "N"; saving the
    // form untouched keeps it instead of turning K123 into NK123.
    void save_keepsARegistrationTheFormCannotSpell() {
        windowtest::setDeviceElement(sim->bus, kPrimary, 11, 0x4B313233u);  // "K123"
        windowtest::setDeviceElement(sim->bus, kPrimary, 12, 0);
        loadFresh();
        QCOMPARE(w<QComboBox>("comboBox_reg_prefix")->currentText(), QString("N"));
        QCOMPARE(w<QPlainTextEdit>("text_registration_num")->toPlainText(), QString("K123"));
        sim->click("pushButton_save");
        QCOMPARE(setting(11), 0x4B313233u);
        QCOMPARE(*sim->bus.eeprom_element(kPrimary, 11), 0x4B313233u);
        QVERIFY(sim->hostFrames(0x390).empty());

        // Once the user edits it, the form's spelling is what is saved.
        w<QPlainTextEdit>("text_registration_num")->setPlainText("K1234");
        sim->click("pushButton_save");
        QCOMPARE(setting(11), 0x4E4B3132u);  // "NK12"
        QCOMPARE(*sim->bus.eeprom_element(kPrimary, 11), 0x4E4B3132u);
    }

    void save_emptyRegistrationStoresZeros() {
        w<QPlainTextEdit>("text_registration_num")->setPlainText("");
        sim->click("pushButton_save");
        for (unsigned index : {11u, 12u, 13u}) QCOMPARE(*sim->bus.eeprom_element(kPrimary, index), 0u);
    }

    void save_storeFailureKeepsPendingAndChecksum() {
        w<QSpinBox>("spinBox_vmin")->setValue(33);
        auto* table = w<QTableWidget>("table_devices");
        QCheckBox* box = table->cellWidget(0, 4)->findChild<QCheckBox*>();
        box->setChecked(!box->isChecked());
        const std::set<int> before = pending();
        const std::uint32_t checksum = sim->window->deviceChecksumValue();
        sim->bus.add_fault(ackFault(sim::FaultKind::Nack, 0x3A0, 1, 0));
        sim->click("pushButton_save");
        QCOMPARE(sim->status(), QString("Error: Failed to store configuration to EEPROM"));
        QVERIFY(sim->diagnostics.messages().contains("Error storing configuration to EEPROM"));
        QCOMPARE(pending(), before);
        QVERIFY(w<QPushButton>("pushButton_save_devices")->isEnabled());
        QCOMPARE(sim->window->deviceChecksumValue(), checksum);
        QCOMPARE(record().checksum(), 0u);
        QCOMPARE(record().magic(), vk61::ConfigRecord::kMagic);
    }

    void save_writeFailureStoresNothing() {
        w<QSpinBox>("spinBox_vmin")->setValue(33);
        w<QSpinBox>("spinBox_vs0")->setValue(34);
        sim->bus.add_fault(ackFault(sim::FaultKind::Nack, 0x390, 3, 0));
        sim->click("pushButton_save");
        QCOMPARE(writtenIndices(sim->hostFrames(0x390)), (std::vector<int>{1}));  // stops at the first failure
        QVERIFY(sim->hostFrames(0x3A0).empty());
        QVERIFY(sim->status().startsWith("Error: Failed to send configuration value for index 1"));
        QCOMPARE(pending(), (std::set<int>{1, 2}));
    }

    void save_headerReadFailure_data() {
        QTest::addColumn<int>("index");
        QTest::addColumn<QString>("debug");
        QTest::addColumn<QString>("status");
        QTest::newRow("memory version") << 254 << "Error reading memory version value"
                                        << "Error: Failed to read memory version from device";
        QTest::newRow("num_elements") << 255 << "Error reading num_elements value"
                                      << "Error: Failed to read num_elements from device";
    }
    void save_headerReadFailure() {
        QFETCH(int, index);
        QFETCH(QString, debug);
        QFETCH(QString, status);
        w<QSpinBox>("spinBox_vmin")->setValue(33);
        sim->bus.add_fault(dropSettingReplies(index, 3));  // the read and both retries
        sim->click("pushButton_save");
        QCOMPARE(sim->status(), status);
        QVERIFY(sim->diagnostics.messages().contains(debug));
        QVERIFY(sim->hostFrames(0x390).empty());
        QVERIFY(sim->hostFrames(0x3A0).empty());
        QVERIFY(pending().count(1));
    }

    // The header words come from the device before every store.
    void save_takesHeaderWordsFromTheDevice() {
        windowtest::setDeviceElement(sim->bus, kPrimary, 254, 9);
        sim->click("pushButton_save");
        QCOMPARE(record().memory_version(), 9u);
        QCOMPARE(record().num_elements(), 35u);
        QCOMPARE(storedCrc(), vk61::config_crc(record()));
    }

    void save_clearsDeviceOptionsToo() {
        auto* table = w<QTableWidget>("table_devices");
        QCheckBox* box = table->cellWidget(0, 4)->findChild<QCheckBox*>();
        box->setChecked(!box->isChecked());
        QVERIFY(w<QPushButton>("pushButton_save_devices")->isEnabled());
        sim->click("pushButton_save");
        QCOMPARE(sim->status(), QString("Configuration saved to EEPROM successfully"));
        QCOMPARE(writtenIndices(sim->hostFrames(0x390)), (std::vector<int>{34}));
        QVERIFY(pending().empty());
        QVERIFY(!w<QPushButton>("pushButton_save_devices")->isEnabled());
    }

    // A Save stores what the EFIS held plus the user's one edit, whatever
    // the form can show: values at and beyond every widget's range, patterns
    // no widget spells, bits no widget shows. Checked by the EEPROM image of
    // every unit: every word but the edited one is what it was.
    void save_keepsWhatTheUserDidNotEdit_data() {
        QTest::addColumn<QString>("indices");
        QTest::addColumn<QString>("values");
        QTest::addColumn<QString>("edit");  // the spin box the user changes
        auto row = [](const char* name, const char* indices, const char* values, const char* edit = "spinBox_vmin") {
            QTest::newRow(name) << indices << values << edit;
        };
        row("vne above the form", "6", "250");
        row("vmin at the top", "1", "255", "spinBox_vs0");
        row("vlo at the bottom", "8", "0");
        row("volts above the form", "9", "700");
        row("volts below the form", "28", "49");
        row("volts at the top", "27", "650");
        row("volts at the record's top", "10", "65535");
        row("roll beyond 90 degrees", "25", "0x42F00000");   // 120.0f
        row("pitch not a number", "26", "0x7FC00000");       // NaN
        row("roll with two decimals", "25", "0x414570A4");   // 12.34f
        row("pitch below -90 degrees", "26", "0xC2C80000");  // -100.0f
        row("backlight above the form", "24", "30");
        row("backlight far above", "24", "1000000");
        row("alpha above the form", "29", "300");
        row("alpha negative as a signed number", "29", "0x80000000");
        row("colour with alpha", "14", "0x80123456");
        row("transparent white", "19", "0x00FFFFFF");
        row("registration without a known prefix", "11,12,13", "0x4B313233,0,0");  // K123
        row("display units with extra bits", "0", "0xFFFF0212");
        row("reserved_30", "30", "0xDEADBEEF");
        row("emitter category beyond the list", "33", "40");
        row("map view beyond the list", "35", "7");
        row("icao random neither 0 nor 1", "32", "5");
        row("icao address with high bits", "31", "0xFF123456");
    }
    void save_keepsWhatTheUserDidNotEdit() {
        QFETCH(QString, indices);
        QFETCH(QString, values);
        QFETCH(QString, edit);
        const QStringList indexList = indices.split(',');
        const QStringList valueList = values.split(',');
        for (std::uint8_t uid : sim->bus.unit_uids()) {
            // Working and stored alike, so the unit is consistent.
            const auto hold = [&](unsigned index, std::uint32_t value) {
                sim->bus.set_ram_element(uid, index, value);
                sim->bus.set_eeprom_element(uid, index, value);
            };
            for (int i = 0; i < indexList.size(); ++i) hold(indexList[i].toUInt(), valueList[i].toUInt(nullptr, 0));
            // Stored and working checksum match the image.
            hold(252, sim::config_image_crc(*sim->bus.eeprom_image(uid)));
        }
        loadFresh();
        const auto before = *sim->bus.eeprom_image(kPrimary);

        auto* spin = w<QSpinBox>(edit.toLatin1().constData());
        spin->setValue(spin->value() == 77 ? 78 : 77);
        const unsigned editedIndex = edit == "spinBox_vs0" ? 2 : 1;
        sim->click("pushButton_save");
        QCOMPARE(sim->status(), QString("Configuration saved to EEPROM successfully"));

        for (std::uint8_t uid : sim->bus.unit_uids()) {
            for (unsigned index = 0; index < 40; ++index) {
                const std::uint32_t expected = index == editedIndex ? static_cast<std::uint32_t>(spin->value())
                                                                    : *sim::config_element(before, index);
                QCOMPARE(*sim->bus.eeprom_element(uid, index), expected);
            }
            const auto stored = *sim->bus.eeprom_image(uid);
            QCOMPARE(*sim->bus.eeprom_element(uid, 252), sim::config_image_crc(stored));
        }
    }

    // An EFIS holding a working value nobody stored (Vs1 99 behind its
    // stored checksum): Save says so before it stores. Cancel sends nothing
    // and every unit keeps its EEPROM; Save stores that value with the edit.
    void save_asksBeforeStoringUnstoredWorkingValues_data() {
        QTest::addColumn<bool>("store");
        QTest::newRow("cancel") << false;
        QTest::newRow("store") << true;
    }
    void save_asksBeforeStoringUnstoredWorkingValues() {
        QFETCH(bool, store);
        for (std::uint8_t uid : sim->bus.unit_uids()) windowtest::setDeviceElement(sim->bus, uid, 3, 99, false);
        sim->click("pushButton_load");
        QCOMPARE(sim->status(), QString("Warning: Configuration CRC verification failed"));
        std::map<std::uint8_t, sim::ConfigImage> before;
        for (std::uint8_t uid : sim->bus.unit_uids()) before[uid] = *sim->bus.eeprom_image(uid);
        sim->bus.clear_host_frames();

        w<QSpinBox>("spinBox_vmin")->setValue(70);
        bool asked = false;
        windowtest::answerNextMessageBox("messageBox_unstored_values", store ? QMessageBox::Save : QMessageBox::Cancel,
                                         &asked);
        sim->click("pushButton_save");
        QVERIFY(asked);

        for (std::uint8_t uid : sim->bus.unit_uids()) {
            if (!store) {
                QCOMPARE(*sim->bus.eeprom_image(uid), before[uid]);
                continue;
            }
            QCOMPARE(*sim->bus.eeprom_element(uid, 3), 99u);
            QCOMPARE(*sim->bus.eeprom_element(uid, 1), 70u);
            QCOMPARE(*sim->bus.eeprom_element(uid, 252), sim::config_image_crc(*sim->bus.eeprom_image(uid)));
        }
        if (!store) {
            QVERIFY(sim->hostFrames(0x390).empty());
            QVERIFY(sim->hostFrames(0x3A0).empty());
            QVERIFY2(sim->status().startsWith("Nothing was stored"), qPrintable(sim->status()));
            QCOMPARE(pending(), (std::set<int>{1}));
        } else {
            QCOMPARE(sim->status(), QString("Configuration saved to EEPROM successfully"));
        }
    }
};

QTEST_MAIN(SettingsSaveTest)
#include "test_settings_save.moc"
