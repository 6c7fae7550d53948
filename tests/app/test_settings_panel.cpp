// The settings tab driven through its real widgets, without a bus: the form
// as built, and what each widget stores in the configuration record.
#include <QApplication>
#include <QColorDialog>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QSpinBox>
#include <QTest>
#include <QTimer>

#include <memory>

#include "config/config_record.h"
#include "config/registration.h"
#include "window_test_support.h"

namespace {

std::uint32_t setting(const vk61::MainWindow& window, unsigned index) {
    return vk61::config_get_value(window.configRecord(), index);
}

}  // namespace

class SettingsPanelTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<vk61::MainWindow> window;

    template <typename T>
    T* w(const char* name) {
        T* found = window->findChild<T*>(QString::fromLatin1(name));
        if (found == nullptr) qFatal("no widget %s", name);
        return found;
    }
    void typeInto(const char* name, const QString& text) { w<QPlainTextEdit>(name)->setPlainText(text); }

    // The ten colour buttons: picker dialog title, the custom
    // colour the picker offers, and the setting index.
    void colourRows() {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QColor>("custom");
        QTest::addColumn<int>("index");
        auto row = [](const char* name, const char* button, const char* /*slot*/, const char* title, QColor custom,
                      int index) { QTest::newRow(name) << button << title << custom << index; };
        row("sky0", "color_picker_sky0", "onSkyColor0Changed", "Select Sky Color 0", QColor(135, 206, 235), 14);
        row("sky1", "color_picker_sky1", "onSkyColor1Changed", "Select Sky Color 1", QColor(135, 206, 235), 15);
        row("ground0", "color_picker_ground0", "onGroundColor0Changed", "Select Ground Color 0", QColor(34, 139, 34),
            16);
        row("ground1", "color_picker_ground1", "onGroundColor1Changed", "Select Ground Color 1", QColor(34, 139, 34),
            17);
        row("approach", "color_picker_app_indi", "onApproachIndiColorChanged", "Select Approach Indicator Color",
            QColor(255, 255, 0), 18);
        row("airplane", "color_picker_airplane", "onAirplaneColorChanged", "Select Airplane Color",
            QColor(255, 255, 255), 19);
        row("green", "color_picker_green", "onGreenArcColorChanged", "Select Green Arc Color", QColor(0, 255, 0), 20);
        row("yellow", "color_picker_yellow", "onYellowArcColorChanged", "Select Yellow Arc Color", QColor(255, 255, 0),
            21);
        row("red", "color_picker_red", "onRedArcColorChanged", "Select Red Arc Color", QColor(255, 0, 0), 22);
        row("gear", "color_picker_gear", "onGearIndiColorChanged", "Select Gear Indicator Color", QColor(255, 255, 255),
            23);
    }

private slots:
    void initTestCase() {
        vhid::attach_bridge(nullptr);
        vhid::set_interfaces({});  // no bridge: the connection fails at once and nothing is loaded
        window = std::make_unique<vk61::MainWindow>(windowtest::offTheNetwork());
        window->show();
        QTRY_VERIFY_WITH_TIMEOUT(window->statusBar()->currentMessage().startsWith("Failed to connect"), 5000);
    }
    void cleanupTestCase() { window.reset(); }

    // ---- the form as built ----

    void form_numericWidgetsHaveTheirRangesAndDefaults() {
        struct Spin {
            const char* name;
            int min, max, step, value;
        };
        for (const Spin& s :
             {Spin{"spinBox_vmin", 0, 255, 10, 0}, Spin{"spinBox_vs0", 0, 255, 1, 0}, Spin{"spinBox_vs1", 0, 255, 1, 0},
              Spin{"spinBox_vfe", 0, 255, 1, 0}, Spin{"spinBox_vn0", 0, 255, 1, 0}, Spin{"spinBox_vne", 0, 240, 1, 0},
              Spin{"spinBox_vref", 0, 255, 1, 0}, Spin{"spinBox_vlo", 0, 255, 1, 0}}) {
            auto* box = w<QSpinBox>(s.name);
            QVERIFY2(box->minimum() == s.min && box->maximum() == s.max, s.name);
            QVERIFY2(box->singleStep() == s.step && box->value() == s.value, s.name);
        }
        QCOMPARE(w<QSpinBox>("spinBox_vmin")->correctionMode(), QAbstractSpinBox::CorrectToPreviousValue);

        struct Double {
            const char* name;
            double min, max, value;
        };
        for (const Double& d :
             {Double{"min_volt_alert_value", 5.0, 65.0, 11.5}, Double{"min_volt_warn_value", 5.0, 65.0, 11.5},
              Double{"max_volt_warn_value", 5.0, 65.0, 15.5}, Double{"max_volt_alert_value", 5.0, 65.0, 15.5},
              Double{"roll_corr_spinbox", -90.0, 90.0, 0.0}, Double{"pitch_corr_spinbox", -90.0, 90.0, 0.0}}) {
            auto* box = w<QDoubleSpinBox>(d.name);
            QVERIFY2(box->decimals() == 1 && qFuzzyCompare(box->singleStep(), 0.1), d.name);
            QVERIFY2(box->minimum() == d.min && box->maximum() == d.max && box->value() == d.value, d.name);
        }
        QCOMPARE(w<QSlider>("backlight_slider")->maximum(), 21);
        QCOMPARE(w<QSlider>("backlight_slider")->value(), 10);
        QCOMPARE(w<QSlider>("text_bg_alpha_slider")->maximum(), 254);
        QCOMPARE(w<QSlider>("text_bg_alpha_slider")->value(), 150);
        QCOMPARE(w<QSlider>("text_bg_alpha_slider")->orientation(), Qt::Horizontal);
    }

    void form_listsHoldTheirItems() {
        auto items = [this](const char* name) {
            QStringList out;
            auto* box = w<QComboBox>(name);
            for (int i = 0; i < box->count(); ++i) out << box->itemText(i);
            return out;
        };
        QCOMPARE(items("comboBox_map_view"), (QStringList{"North Up", "Track Up"}));
        QCOMPARE(items("comboBox_airspeed"), (QStringList{"MPH", "Knots", "KPH"}));
        QCOMPARE(items("comboBox_altitude"), (QStringList{"Feet", "Meters"}));
        QCOMPARE(items("comboBox_pressure"), (QStringList{"InHg", "Mbar"}));
        QCOMPARE(items("comboBox_temp"), (QStringList{"Fahrenheit", "Celsius"}));
        const QStringList emitter = {"A0 : Reserved",
                                     "A1 : Light (< 15.5k lbs)",
                                     "A2 : Small (15.5k to 75k lbs)",
                                     "A3 : Large (75k to 300k lbs)",
                                     "A4 : High vortex large",
                                     "A5 : Heavy (> 300k lbs) ",
                                     "A6 : High Perf > 5g & 400 kts",
                                     "A7 : Rotorcraft",
                                     "B0 : Reserved",
                                     "B1 : Glider / sailplane",
                                     "B2 : Lighter-than-air",
                                     "B3 : Parachutist / skydiver",
                                     "B4 : Ultralight / hang-glider / paraglider",
                                     "B5 : Reserved",
                                     "B6 : Unmanned aerial vehicle",
                                     "B7 : Space / trans-atmospheric vehicle",
                                     "C0 : Reserved",
                                     QString::fromUtf8("C1 : Surface vehicle \u2013 emergency vehicle"),
                                     QString::fromUtf8("C2 : Surface vehicle \u2013 service vehicle"),
                                     "C3 : Point obstacle (includes tethered balloons)",
                                     "C4 : Cluster obstacle",
                                     "C5 : Line obstacle"};
        QCOMPARE(items("comboBox_emitter_cat"), emitter);

        const QStringList prefixes = items("comboBox_reg_prefix");
        QCOMPARE(prefixes.size(), 193);
        for (int i = 0; i < prefixes.size(); ++i)
            QCOMPARE(prefixes[i], QString(vk61::REGISTRATION_PREFIXES[std::size_t(i)]));
        QCOMPARE(w<QComboBox>("comboBox_reg_prefix")->currentText(), QString("N"));
        QVERIFY(!w<QComboBox>("comboBox_reg_prefix")->isEditable());
        for (const char* name : {"comboBox_map_view", "comboBox_airspeed", "comboBox_emitter_cat"}) {
            QCOMPARE(w<QComboBox>(name)->currentIndex(), 0);
        }
    }

    // ---- what the widgets store ----

    void voltages_everyValueStoresTenTimesItself() {
        struct Volt {
            const char* name;
            unsigned index;
        };
        for (const Volt& v : {Volt{"min_volt_warn_value", 9}, Volt{"max_volt_warn_value", 10},
                              Volt{"min_volt_alert_value", 27}, Volt{"max_volt_alert_value", 28}}) {
            auto* box = w<QDoubleSpinBox>(v.name);
            for (int tenths = 50; tenths <= 650; ++tenths) {
                box->setValue(tenths / 10.0);
                QCOMPARE(setting(*window, v.index), std::uint32_t(tenths));
            }
            // Stepping the way the arrow keys do lands on the same values.
            box->setValue(5.0);
            for (int tenths = 51; tenths <= 650; ++tenths) {
                box->stepBy(1);
                QCOMPARE(setting(*window, v.index), std::uint32_t(tenths));
            }
            QVERIFY(window->pendingChangeSet().count(int(v.index)));
        }
        w<QDoubleSpinBox>("min_volt_warn_value")->setValue(12.3);
        QCOMPARE(setting(*window, 9), 123u);
    }

    void speedsAndSliders_storeTheirValues() {
        struct Int {
            const char* name;
            unsigned index;
            int value;
            std::uint32_t stored;
        };
        for (const Int& s :
             {Int{"spinBox_vmin", 1, 40, 40}, Int{"spinBox_vs0", 2, 41, 41}, Int{"spinBox_vs1", 3, 42, 42},
              Int{"spinBox_vfe", 4, 43, 43}, Int{"spinBox_vn0", 5, 255, 255}, Int{"spinBox_vne", 6, 250, 240},
              Int{"spinBox_vref", 7, 46, 46}, Int{"spinBox_vlo", 8, 47, 47}}) {
            w<QSpinBox>(s.name)->setValue(s.value);
            QCOMPARE(setting(*window, s.index), s.stored);
        }
        w<QSlider>("backlight_slider")->setValue(21);
        QCOMPARE(setting(*window, 24), 21u);
        w<QSlider>("text_bg_alpha_slider")->setValue(200);
        QCOMPARE(setting(*window, 29), 200u);
        w<QDoubleSpinBox>("roll_corr_spinbox")->setValue(-12.5);
        QCOMPARE(setting(*window, 25), 0xC1480000u);  // -12.5f
        w<QDoubleSpinBox>("pitch_corr_spinbox")->setValue(3.0);
        QCOMPARE(setting(*window, 26), 0x40400000u);  // 3.0f
        w<QComboBox>("comboBox_emitter_cat")->setCurrentIndex(21);
        QCOMPARE(setting(*window, 33), 21u);
        w<QComboBox>("comboBox_map_view")->setCurrentIndex(1);
        QCOMPARE(setting(*window, 35), 1u);
    }

    void backlight_changedAndBack_staysPending() {
        auto* slider = w<QSlider>("backlight_slider");
        slider->setValue(10);
        w<QPushButton>("pushButton_update")->click();  // not connected: pending is kept
        QVERIFY(window->pendingChangeSet().count(24));
        slider->setValue(11);
        slider->setValue(10);
        QVERIFY(window->pendingChangeSet().count(24));
        QCOMPARE(setting(*window, 24), 10u);
    }

    void registration_joinsPrefixAndNumber_data() {
        QTest::addColumn<QString>("prefix");
        QTest::addColumn<QString>("number");
        QTest::addColumn<QByteArray>("stored");
        QTest::newRow("N12345") << "N"
                                << "12345" << QByteArray("N12345\0\0\0\0\0\0", 12);
        QTest::newRow("D EABC") << "D"
                                << "EABC" << QByteArray("DEABC\0\0\0\0\0\0\0", 12);
        QTest::newRow("A9C empty") << "A9C"
                                   << "" << QByteArray(12, '\0');
        QTest::newRow("RDPL cut to 11") << "RDPL"
                                        << "ABCDEFGHIJ" << QByteArray("RDPLABCDEFG\0", 12);
        QTest::newRow("outside Latin-1") << "G" << QString::fromUtf8("AB\u20ACD")
                                         << QByteArray("GAB?D\0\0\0\0\0\0\0", 12);
        QTest::newRow("Latin-1 kept") << "D" << QString::fromUtf8("\u00C4BC")
                                      << QByteArray(
                                             "D\xC4"
                                             "BC\0\0\0\0\0\0\0\0",
                                             12);
        QTest::newRow("duplicate 9A") << "9A"
                                      << "-XYZ" << QByteArray("9A-XYZ\0\0\0\0\0\0", 12);
    }
    void registration_joinsPrefixAndNumber() {
        QFETCH(QString, prefix);
        QFETCH(QString, number);
        QFETCH(QByteArray, stored);
        auto* prefixes = w<QComboBox>("comboBox_reg_prefix");
        typeInto("text_registration_num", "X");  // so that the prefix change below stores
        prefixes->setCurrentIndex(prefixes->findText(prefix));
        QCOMPARE(prefixes->currentText(), prefix);
        typeInto("text_registration_num", number);
        const auto& bytes = window->configRecord().bytes;
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(bytes.data()) + 32, 12), stored);
        for (int index : {11, 12, 13}) QVERIFY(window->pendingChangeSet().count(index));
    }

    void registration_prefixChangeAloneStores() {
        auto* prefixes = w<QComboBox>("comboBox_reg_prefix");
        typeInto("text_registration_num", "123");
        prefixes->setCurrentIndex(prefixes->findText("G"));
        QCOMPARE(setting(*window, 11), 0x47313233u);  // "G123"
        prefixes->setCurrentIndex(0);
        QCOMPARE(setting(*window, 11), 0x4E313233u);  // "N123"
    }

    void icao_parsing_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<uint>("stored");
        QTest::newRow("hex") << "a1b2c3" << 0xA1B2C3u;
        QTest::newRow("upper hex") << "A1B2C3" << 0xA1B2C3u;
        QTest::newRow("digits are hex") << "123" << 0x000123u;
        QTest::newRow("long keeps 24 bits") << "12345678" << 0x345678u;
        QTest::newRow("blanks around") << "  00a1b2 \n" << 0x00A1B2u;
        QTest::newRow("not a number") << "xyz" << 0u;
        QTest::newRow("empty") << "" << 0u;
        QTest::newRow("only blanks") << "   " << 0u;
        QTest::newRow("above 32 bits") << "1FFFFFFFF" << 0u;
        QTest::newRow("blank inside") << "12 34" << 0u;
        QTest::newRow("0x form") << "0x1A" << 0u;
    }
    void icao_parsing() {
        QFETCH(QString, text);
        QFETCH(uint, stored);
        typeInto("text_icao", "FFFFFF");
        typeInto("text_icao", text);
        QCOMPARE(setting(*window, 31), std::uint32_t(stored));
        QVERIFY(window->pendingChangeSet().count(31));
    }

    void units_bitsFollowTheFourLists_data() {
        QTest::addColumn<int>("airspeed");
        QTest::addColumn<int>("altitude");
        QTest::addColumn<int>("temperature");
        QTest::addColumn<int>("pressure");
        QTest::addColumn<uint>("word");
        QTest::newRow("mph feet F inHg") << 0 << 0 << 0 << 0 << (0x001u | 0x008u | 0x020u | 0x080u);
        QTest::newRow("knots meters") << 1 << 1 << 0 << 0 << (0x002u | 0x010u | 0x020u | 0x080u);
        QTest::newRow("kph C mbar") << 2 << 0 << 1 << 1 << (0x004u | 0x008u | 0x040u | 0x100u);
    }
    void units_bitsFollowTheFourLists() {
        QFETCH(int, airspeed);
        QFETCH(int, altitude);
        QFETCH(int, temperature);
        QFETCH(int, pressure);
        QFETCH(uint, word);
        // Move every list away first so each of the four changes fires.
        for (const char* name : {"comboBox_airspeed", "comboBox_altitude", "comboBox_temp", "comboBox_pressure"}) {
            auto* box = w<QComboBox>(name);
            box->setCurrentIndex((box->currentIndex() + 1) % box->count());
        }
        w<QComboBox>("comboBox_airspeed")->setCurrentIndex(airspeed);
        w<QComboBox>("comboBox_altitude")->setCurrentIndex(altitude);
        w<QComboBox>("comboBox_temp")->setCurrentIndex(temperature);
        w<QComboBox>("comboBox_pressure")->setCurrentIndex(pressure);
        QCOMPARE(setting(*window, 0), std::uint32_t(word));
    }

    void icaoRadioPair_storesTwicePerSwitch() {
        auto* use = w<QRadioButton>("radioButton_use_icao");
        auto* random = w<QRadioButton>("radioButton_rand_icao");
        use->setChecked(true);
        // Connected after the window's own connections, so each runs right
        // after the window's slot stored the value.
        QList<std::uint32_t> stored;
        auto record = [&] { stored << setting(*window, 32); };
        auto c1 = connect(use, &QRadioButton::toggled, this, record);
        auto c2 = connect(random, &QRadioButton::toggled, this, record);
        random->click();
        QCOMPARE(stored, (QList<std::uint32_t>{1, 1}));
        use->click();
        QCOMPARE(stored, (QList<std::uint32_t>{1, 1, 0, 0}));
        disconnect(c1);
        disconnect(c2);
    }

    void colourPicker_okStoresChoice_cancelChangesNothing_data() { colourRows(); }
    void colourPicker_okStoresChoice_cancelChangesNothing() {
        QFETCH(QString, button);
        QFETCH(QString, title);
        QFETCH(QColor, custom);
        QFETCH(int, index);
        auto* picker = w<QPushButton>(button.toLatin1().constData());
        picker->setStyleSheet("background-color: #102030;");

        windowtest::DialogAnswer answer;
        windowtest::answerNextColourDialog(&answer, QColor("#a0b0c0"));
        picker->click();
        QVERIFY(answer.seen);
        QCOMPARE(answer.title, title);
        QCOMPARE(QColorDialog::customColor(1), custom);
        QCOMPARE(picker->styleSheet(), QString("background-color: #a0b0c0;"));
        QCOMPARE(setting(*window, unsigned(index)), 0xFFA0B0C0u);

        // The dialog opens on the record's colour; cancelling leaves it all.
        windowtest::DialogAnswer cancelled;
        windowtest::answerNextColourDialog(&cancelled, QColor());
        picker->click();
        QVERIFY(cancelled.seen);
        QCOMPARE(cancelled.initial, QColor("#a0b0c0"));
        QCOMPARE(picker->styleSheet(), QString("background-color: #a0b0c0;"));
        QCOMPARE(setting(*window, unsigned(index)), 0xFFA0B0C0u);
    }

    void speedChange_leavesDevicesSaveButtonDisabled() {
        w<QSpinBox>("spinBox_vs0")->setValue(61);
        QVERIFY(window->pendingChangeSet().count(2));
        QVERIFY(!w<QPushButton>("pushButton_save_devices")->isEnabled());
    }

    void actionsWithoutConnection_reportIt() {
        for (const char* button : {"pushButton_load", "pushButton_update", "pushButton_save"}) {
            window->statusBar()->clearMessage();
            w<QPushButton>(button)->click();
            QCOMPARE(window->statusBar()->currentMessage(),
                     QString("Error: No communication interface connected (USB HID or CAN FD)"));
        }
    }
};

QTEST_MAIN(SettingsPanelTest)
#include "test_settings_panel.moc"
