// "Load settings from EFIS" against the simulated installation: the reads
// that go out, the record and form that result, and the messages.
#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QSpinBox>
#include <QTableWidget>
#include <QTest>

#include <cstdio>
#include <memory>

#include "config/config_record.h"
#include "core/config_timeouts.h"
#include "window_test_support.h"

namespace {

constexpr std::uint8_t kPrimary = 1;

std::string appCrcLine(std::uint32_t computed, std::uint32_t device) {
    char line[64];
    std::snprintf(line, sizeof line, "app: 0x%08X, device: 0x%08X \n", computed, device);
    return line;
}

sim::Fault dropSettingReplies(unsigned skip, unsigned times) {
    sim::Fault fault;
    fault.kind = sim::FaultKind::Drop;
    fault.reply = sim::ReplyKind::SettingReply;
    fault.command = 0x370;
    fault.skip = skip;
    fault.times = times;
    return fault;
}

QByteArray registrationOf(const vk61::ConfigRecord& record) {
    return QByteArray(reinterpret_cast<const char*>(record.bytes.data()) + 32, 12);
}

}  // namespace

class SettingsLoadTest : public QObject {
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
    void setDevice(unsigned index, std::uint32_t value, bool fix_checksum = true) {
        windowtest::setDeviceElement(sim->bus, kPrimary, index, value, fix_checksum);
    }
    void setDeviceRegistration(const QByteArray& twelve) {
        for (int word = 0; word < 3; ++word) {
            std::uint32_t value = 0;
            for (int i = 0; i < 4; ++i) value = (value << 8) | static_cast<std::uint8_t>(twelve[4 * word + i]);
            setDevice(11 + unsigned(word), value);
        }
    }
    std::uint32_t deviceCrc() const { return sim::config_image_crc(*sim->bus.ram_image(kPrimary)); }

private slots:
    void initTestCase() {
        // A unit that does not answer costs 50 ms per read here, not 500.
        vk61::WindowSettings settings = windowtest::offTheNetwork();
        settings.config_timeouts = {50, 200, 500};
        settings.initial_load_delay_ms = 1;  // the first load need not wait 1.5 s here
        sim = std::make_unique<windowtest::SimulatedWindow>(3, settings);
        QVERIFY(sim->waitForInitialLoad());
    }
    void cleanupTestCase() { sim.reset(); }
    void init() { sim->reset(); }

    void load_readsHeaderThenSettingsInOrder_andShowsTheDevice() {
        sim->click("pushButton_load");
        QCOMPARE(sim->status(), QString("Configuration successfully loaded from device"));

        std::vector<int> indices;
        for (const vk61::BusFrame& f : sim->hostFrames(0x370)) {
            QCOMPARE(int(f.uid_bits()), int(kPrimary));
            indices.push_back(f.data()[1]);
        }
        std::vector<int> expected = {252, 253, 254, 255};
        for (int i = 0; i <= 39; ++i) expected.push_back(i);
        QCOMPARE(indices, expected);
        QVERIFY(sim->hostFrames(0x390).empty());  // a load writes nothing

        QCOMPARE(record().bytes, *sim->bus.ram_image(kPrimary));
        QCOMPARE(sim->window->deviceChecksumValue(), record().checksum());
        QCOMPARE(sim->diagnostics.logLinesStartingWith("app: "),
                 std::vector<std::string>{appCrcLine(deviceCrc(), deviceCrc())});
        QCOMPARE(sim->diagnostics.logLinesStartingWith("CRC Check"), std::vector<std::string>{"CRC Check Passed.\n"});
        QVERIFY(sim->window->pendingChangeSet().empty());
        QVERIFY(!w<QPushButton>("pushButton_save_devices")->isEnabled());

        // The factory configuration of the simulated units, as the form shows it.
        QCOMPARE(w<QSpinBox>("spinBox_vmin")->value(), 30);
        QCOMPARE(w<QSpinBox>("spinBox_vs0")->value(), 45);
        QCOMPARE(w<QSpinBox>("spinBox_vne")->value(), 165);
        QCOMPARE(w<QSpinBox>("spinBox_vlo")->value(), 100);
        QCOMPARE(w<QDoubleSpinBox>("min_volt_warn_value")->value(), 11.5);
        QCOMPARE(w<QDoubleSpinBox>("max_volt_alert_value")->value(), 16.0);
        QCOMPARE(w<QComboBox>("comboBox_reg_prefix")->currentText(), QString("N"));
        QCOMPARE(w<QPlainTextEdit>("text_registration_num")->toPlainText(), QString("123AB"));
        QCOMPARE(w<QPushButton>("color_picker_sky0")->styleSheet(), QString("background-color: #1e5ac8;"));
        QCOMPARE(w<QPushButton>("color_picker_gear")->styleSheet(), QString("background-color: #00ff00;"));
        QCOMPARE(w<QComboBox>("comboBox_airspeed")->currentText(), QString("Knots"));
        QCOMPARE(w<QComboBox>("comboBox_altitude")->currentText(), QString("Feet"));
        QCOMPARE(w<QComboBox>("comboBox_temp")->currentText(), QString("Celsius"));
        QCOMPARE(w<QComboBox>("comboBox_pressure")->currentText(), QString("InHg"));
        QCOMPARE(w<QSlider>("backlight_slider")->value(), 15);
        QCOMPARE(w<QSlider>("text_bg_alpha_slider")->value(), 128);
        QCOMPARE(w<QPlainTextEdit>("text_icao")->toPlainText(), QString("A1B2C3"));
        QCOMPARE(w<QComboBox>("comboBox_emitter_cat")->currentIndex(), 1);
        QVERIFY(w<QRadioButton>("radioButton_use_icao")->isChecked());
        QCOMPARE(w<QComboBox>("comboBox_map_view")->currentIndex(), 0);
        QVERIFY(sim->diagnostics.messages().contains("Created string: \"N123AB\""));
        QVERIFY(sim->diagnostics.messages().contains("Found prefix: \"N\""));
    }

    // Opaque white is 0xFFFFFFFF on the bus; it must load as white, not as
    // a failed read.
    void load_opaqueWhiteIsAColour() {
        setDevice(19, 0xFFFFFFFFu);
        sim->click("pushButton_load");
        QCOMPARE(setting(19), 0xFFFFFFFFu);
        QCOMPARE(w<QPushButton>("color_picker_airplane")->styleSheet(), QString("background-color: #ffffff;"));
        QVERIFY(sim->diagnostics.messagesStartingWith("Warning: Failed to read").isEmpty());
        QCOMPARE(sim->diagnostics.logLinesStartingWith("CRC Check"), std::vector<std::string>{"CRC Check Passed.\n"});
        QCOMPARE(sim->status(), QString("Configuration successfully loaded from device"));
    }

    // An erased EEPROM reads all ones: said as such, not as a failed read.
    void load_blankChecksumCannotBeLoaded() {
        const QStringList form = windowtest::settingsFormSnapshot(*sim->window);
        const vk61::ConfigRecord before = record();
        setDevice(252, 0xFFFFFFFFu, false);
        sim->click("pushButton_load");
        QCOMPARE(sim->status(), QString("Error: The EFIS holds no stored configuration"));
        QVERIFY(!sim->diagnostics.messages().contains("Error reading checksum value"));
        QCOMPARE(sim->hostFrames(0x370).size(), std::size_t{1});
        QCOMPARE(windowtest::settingsFormSnapshot(*sim->window), form);
        QCOMPARE(record().bytes, before.bytes);
    }

    void load_headerReadFailureEndsTheLoad_data() {
        QTest::addColumn<int>("position");
        QTest::addColumn<QString>("debug");
        QTest::addColumn<QString>("status");
        QTest::newRow("checksum") << 0 << "Error reading checksum value"
                                  << "Error: Failed to read checksum from device";
        QTest::newRow("magic") << 1 << "Error reading magic value"
                               << "Error: Failed to read magic number from device";
        QTest::newRow("memory version") << 2 << "Error reading memory version value"
                                        << "Error: Failed to read memory version from device";
        QTest::newRow("num_elements") << 3 << "Error reading num_elements value"
                                      << "Error: Failed to read num_elements from device";
    }
    // A header word that gets no reply to any of its three tries ends the
    // load; the form, the record and the user's edit stay as they were.
    void load_headerReadFailureEndsTheLoad() {
        QFETCH(int, position);
        QFETCH(QString, debug);
        QFETCH(QString, status);
        w<QSpinBox>("spinBox_vmin")->setValue(77);
        const vk61::ConfigRecord before = record();
        sim::Fault fault = dropSettingReplies(0, 3);
        fault.index = 252 + position;
        sim->bus.add_fault(fault);
        sim->click("pushButton_load");
        QCOMPARE(sim->status(), status);
        QVERIFY(sim->diagnostics.messages().contains(debug));
        QCOMPARE(sim->hostFrames(0x370).size(), std::size_t(position + 3));
        QCOMPARE(w<QSpinBox>("spinBox_vmin")->value(), 77);
        QCOMPARE(sim->window->pendingChangeSet(), std::set<int>{1});
        QCOMPARE(record().bytes, before.bytes);
        QCOMPARE(setting(1), 77u);
    }

    // An EFIS that answers the header and then no setting: after three
    // settings without a reply (each tried three times) the load stops, says
    // so, and leaves every setting unknown; nothing more is asked.
    void load_everySettingReadFailing_stopsAfterThreeAndDoesNotClaimSuccess() {
        sim->bus.add_fault(dropSettingReplies(4, 3 * 40));
        sim->click("pushButton_load");

        const QStringList warnings = sim->diagnostics.messagesStartingWith("Warning: Failed to read value");
        QCOMPARE(warnings.size(), 3);
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(warnings[i], QString("Warning: Failed to read value for index %1 , setting to 0").arg(i));
        }
        QCOMPARE(sim->hostFrames(0x370).size(), std::size_t{4 + 3 * 3});
        QVERIFY2(sim->status().startsWith("Warning: The EFIS stopped answering at setting 0; 40 setting(s) are marked "
                                          "as not read"),
                 qPrintable(sim->status()));
        QCOMPARE(sim->window->configModel().unknown_count(), 40u);
        for (unsigned index = 0; index <= 39; ++index) QCOMPARE(setting(index), 0u);
        const QStringList mismatch = sim->diagnostics.messagesStartingWith("CRC mismatch");
        QCOMPARE(mismatch.size(), 1);
        QCOMPARE(mismatch[0], QString("CRC mismatch: Calculated = \"%1\" Stored= \"%2\"")
                                  .arg(QString::number(vk61::config_crc(record()), 16))
                                  .arg(QString::number(deviceCrc(), 16)));
        // Nothing is known: every settings widget says it was not read, and
        // the load ends on a warning.
        QCOMPARE(sim->window->configModel().unknown_count(), 40u);
        QVERIFY(!w<QSpinBox>("spinBox_vmin")->isEnabled());
        QVERIFY(!w<QDoubleSpinBox>("min_volt_warn_value")->isEnabled());
    }

    // Cancel ends a running load at its next read: the record, the form and
    // the edits stay as they were, and the buttons come back.
    void load_cancelled_changesNothing() {
        w<QSpinBox>("spinBox_vmin")->setValue(77);
        const vk61::ConfigRecord before = record();
        const QStringList shown = windowtest::settingsFormSnapshot(*sim->window);
        sim->bus.add_fault(dropSettingReplies(4, 3 * 40));  // every setting read is slow to fail
        w<QPushButton>("pushButton_load")->click();
        QVERIFY2(sim->window->busExchangeRunning(), qPrintable(sim->status()));
        QVERIFY(!w<QPushButton>("pushButton_load")->isEnabled());
        QVERIFY(w<QPushButton>("pushButton_cancel")->isEnabled());
        sim->click("pushButton_cancel");
        QVERIFY(sim->waitForBusIdle());
        QVERIFY2(sim->status().startsWith("Load cancelled"), qPrintable(sim->status()));
        QCOMPARE(record().bytes, before.bytes);
        QCOMPARE(windowtest::settingsFormSnapshot(*sim->window), shown);
        QCOMPARE(sim->window->pendingChangeSet(), std::set<int>{1});
        QVERIFY(w<QPushButton>("pushButton_load")->isEnabled());
        QVERIFY(!w<QPushButton>("pushButton_cancel")->isEnabled());
        QVERIFY(sim->hostFrames(0x370).size() < std::size_t{4 + 3 * 3});  // it did not run to the early stop
    }

    void load_crcMismatchStaysVisible() {
        setDevice(3, 99, false);  // changed behind the stored checksum's back
        sim->click("pushButton_load");
        QCOMPARE(w<QSpinBox>("spinBox_vs1")->value(), 99);
        QVERIFY(sim->diagnostics.logLinesStartingWith("CRC Check").empty());
        QCOMPARE(sim->diagnostics.messagesStartingWith("CRC mismatch").size(), 1);
        QCOMPARE(sim->status(), QString("Warning: Configuration CRC verification failed"));
    }

    // A count above the record's 35 words never runs past it; the units
    // limit it the same way, so the check still passes.
    void load_countAbove35IsLimited() {
        setDevice(255, 4000);
        sim->click("pushButton_load");
        QCOMPARE(record().num_elements(), 4000u);
        QCOMPARE(sim->diagnostics.logLinesStartingWith("CRC Check"), std::vector<std::string>{"CRC Check Passed.\n"});
    }

    void load_splitsTheRegistration_data() {
        QTest::addColumn<QByteArray>("stored");
        QTest::addColumn<QString>("prefix");
        QTest::addColumn<QString>("number");
        QTest::addColumn<QString>("found");  // null: no debug lines
        QTest::newRow("CC123") << QByteArray("CC123\0\0\0\0\0\0\0", 12) << "C"
                               << "C123"
                               << "C";
        QTest::newRow("D-EABC") << QByteArray("D-EABC\0\0\0\0\0\0", 12) << "D"
                                << "-EABC"
                                << "D";
        QTest::newRow("K123") << QByteArray("K123\0\0\0\0\0\0\0\0", 12) << "N"
                              << "K123"
                              << "";
        QTest::newRow("11 chars then b11") << QByteArray("G-ABCDEFGHIZ", 12) << "G"
                                           << "-ABCDEFGHI"
                                           << "G";
        QTest::newRow("all FF") << QByteArray(12, '\xFF') << "N"
                                << "" << QString();
        QTest::newRow("leading NUL") << QByteArray("\0N123\0\0\0\0\0\0\0", 12) << "N"
                                     << "" << QString();
        QTest::newRow("9V first of two") << QByteArray("9V-ABC\0\0\0\0\0\0", 12) << "9V"
                                         << "-ABC"
                                         << "9V";
    }
    void load_splitsTheRegistration() {
        QFETCH(QByteArray, stored);
        QFETCH(QString, prefix);
        QFETCH(QString, number);
        QFETCH(QString, found);
        setDeviceRegistration(stored);
        sim->click("pushButton_load");
        auto* prefixes = w<QComboBox>("comboBox_reg_prefix");
        QCOMPARE(prefixes->currentText(), prefix);
        QCOMPARE(prefixes->currentIndex(), prefixes->findText(prefix));  // the first item with that text
        QCOMPARE(w<QPlainTextEdit>("text_registration_num")->toPlainText(), number);
        QCOMPARE(registrationOf(record()), stored);
        if (found.isNull()) {
            QVERIFY(sim->diagnostics.messagesStartingWith("Created string:").isEmpty());
        } else {
            QCOMPARE(sim->diagnostics.messagesStartingWith("Found prefix:"),
                     QStringList{"Found prefix: \"" + found + "\""});
        }
        QVERIFY(sim->window->pendingChangeSet().empty());
    }

    // What the EFIS holds is shown as it is where a widget can show it (its
    // range widens, and it says the value lies outside the form's range),
    // never clamped; the record keeps every value.
    void load_showsWhatTheFormCannotHoldAsItIs() {
        setDevice(6, 250);           // Vne above the spin box's 240
        setDevice(29, 300);          // text background alpha
        setDevice(33, 40);           // emitter category
        setDevice(35, 7);            // map view
        setDevice(9, 700);           // 70.0 V
        setDevice(24, 30);           // backlight
        setDevice(31, 0xFF00A1B2u);  // ICAO with a high byte
        setDevice(32, 2);            // neither 0 nor 1
        setDevice(25, 0x7FC00000u);  // NaN roll correction
        setDevice(26, 0xC2C80000u);  // -100.0 pitch
        sim->click("pushButton_load");
        QCOMPARE(sim->status(), QString("Configuration successfully loaded from device"));
        QCOMPARE(w<QSpinBox>("spinBox_vne")->value(), 250);
        QVERIFY(w<QSpinBox>("spinBox_vne")->toolTip().contains("outside the form's range (0 to 240)"));
        QVERIFY(!w<QSpinBox>("spinBox_vs0")->toolTip().contains("outside the form's range"));
        QCOMPARE(setting(6), 250u);
        QCOMPARE(w<QSlider>("text_bg_alpha_slider")->value(), 300);
        QCOMPARE(w<QComboBox>("comboBox_emitter_cat")->currentIndex(), 21);
        QCOMPARE(w<QComboBox>("comboBox_map_view")->currentText(), QString("North Up"));
        QCOMPARE(w<QDoubleSpinBox>("min_volt_warn_value")->value(), 70.0);
        QCOMPARE(w<QSlider>("backlight_slider")->value(), 30);
        QCOMPARE(w<QPlainTextEdit>("text_icao")->toPlainText(), QString("00A1B2"));
        QVERIFY(w<QRadioButton>("radioButton_use_icao")->isChecked());
        QCOMPARE(w<QDoubleSpinBox>("roll_corr_spinbox")->value(), 0.0);
        QCOMPARE(w<QDoubleSpinBox>("pitch_corr_spinbox")->value(), -100.0);
        for (unsigned index : {6u, 9u, 24u, 25u, 26u, 29u, 31u, 32u, 33u, 35u}) {
            QCOMPARE(setting(index), *sim->bus.ram_element(kPrimary, index));
        }
        QVERIFY(sim->window->pendingChangeSet().empty());
        QVERIFY(!w<QPushButton>("pushButton_save_devices")->isEnabled());
    }

    void load_randomIcaoShowsOnTheSecondButton() {
        setDevice(32, 1);
        sim->click("pushButton_load");
        QVERIFY(w<QRadioButton>("radioButton_rand_icao")->isChecked());
        QVERIFY(!w<QRadioButton>("radioButton_use_icao")->isChecked());
        QVERIFY(sim->window->pendingChangeSet().empty());
    }

    void units_highBitsSurviveAnEdit() {
        setDevice(0, 0xABCDE000u | 0x002u | 0x010u | 0x020u | 0x080u);  // knots, meters, F, inHg
        sim->click("pushButton_load");
        QCOMPARE(w<QComboBox>("comboBox_airspeed")->currentText(), QString("Knots"));
        QCOMPARE(w<QComboBox>("comboBox_altitude")->currentText(), QString("Meters"));
        w<QComboBox>("comboBox_altitude")->setCurrentIndex(0);  // back to feet
        QCOMPARE(setting(0), 0xABCDE000u | 0x002u | 0x008u | 0x020u | 0x080u);
        w<QComboBox>("comboBox_temp")->setCurrentIndex(1);
        QCOMPARE(setting(0), 0xABCDE000u | 0x002u | 0x008u | 0x040u | 0x080u);
    }

    // The devices tab's button follows the pending per-unit options only,
    // and a load clears them.
    void saveDevicesButton_followsDeviceChanges() {
        sim->click("pushButton_load");
        auto* button = w<QPushButton>("pushButton_save_devices");
        w<QSpinBox>("spinBox_vmin")->setValue(50);
        QVERIFY(!button->isEnabled());
        auto* table = w<QTableWidget>("table_devices");
        QVERIFY(table->rowCount() > 0);
        QCheckBox* box = table->cellWidget(0, 4)->findChild<QCheckBox*>();
        QVERIFY(box);
        box->setChecked(!box->isChecked());
        QVERIFY(sim->window->pendingChangeSet().count(34));
        QVERIFY(button->isEnabled());
        sim->click("pushButton_load");
        QVERIFY(sim->window->pendingChangeSet().empty());
        QVERIFY(!button->isEnabled());
    }

    // Last: it takes the link away.
    void load_withoutConnection_reportsIt() {
        sim->window->commsManager()->disconnect();
        sim->click("pushButton_load");
        QCOMPARE(sim->status(), QString("Error: No communication interface connected (USB HID or CAN FD)"));
        QVERIFY(sim->diagnostics.messages().contains("No communication interface connected"));
    }
};

QTEST_MAIN(SettingsLoadTest)
#include "test_settings_load.moc"
