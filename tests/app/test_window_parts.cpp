// The window's parts on their own terms: the devices tab against the
// simulated installation with widgets of its own and a package list of the
// test's choosing, and the configuration panel's two signals as the window
// wires them (a load that read the configuration, option edits pending).
#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTableWidget>
#include <QTest>

#include <memory>

#include "comms_manager.h"
#include "config/config_model.h"
#include "configuration_panel.h"
#include "devices_tab.h"
#include "window_test_support.h"

namespace {

constexpr int kColDevice = 1;
constexpr int kColUpdate = 3;
constexpr int kColTermination = 4;
constexpr int kColScreen = 5;

template <typename T>
T* optionBox(QTableWidget& table, int row, int column) {
    return table.cellWidget(row, column)->findChild<T*>();
}

vk61::FirmwarePackage package(const char* type, const char* name, quint8 major, quint8 minor, quint8 patch) {
    vk61::FirmwarePackage p;
    p.device_type = QString::fromLatin1(type);
    p.display_name = QString::fromLatin1(name);
    p.firmware_version = {major, minor, patch};
    return p;
}

// Three default units on the in-process bridge, a manager connected to them,
// and a devices tab on widgets of its own.
struct DevicesFixture {
    DevicesFixture() {
        sim::add_default_units(bus, 3);
        vhid::attach_bridge(&bridge);
        comms.connect();
        tab = std::make_unique<vk61::DevicesTab>(
            &table, &save, &status, model,
            [this]() -> const QList<vk61::FirmwarePackage>& {
                ++lookups;
                return packages;
            },
            /*worker=*/nullptr, /*parent=*/nullptr);
        tab->setComms(&comms);
    }
    ~DevicesFixture() {
        tab.reset();
        comms.disconnect();
        vhid::attach_bridge(nullptr);
    }
    bool unitsIdentified() {
        return QTest::qWaitFor([this] {
            const auto units = comms.device_snapshot();
            return units.size() == 3 && std::none_of(units.begin(), units.end(),
                                                     [](const vk61::DeviceInfo& u) { return u.is_placeholder(); });
        });
    }
    // Every option known, with the given termination mask.
    void loadOptions(std::uint32_t termination) {
        model.begin_load();
        for (unsigned index = 0; index < vk61::kSettingCount; ++index) model.load_setting(index, 0);
        model.load_setting(vk61::kIndexTerminationMask, termination);
        model.finish_load();
    }

    sim::Installation bus;
    sim::Bridge bridge{bus};
    vk61::CommsManager comms;
    QTableWidget table{0, 6};
    QPushButton save;
    QStatusBar status;
    vk61::ConfigModel model;
    QList<vk61::FirmwarePackage> packages;
    int lookups = 0;
    std::unique_ptr<vk61::DevicesTab> tab;
};

}  // namespace

class WindowPartsTest : public QObject {
    Q_OBJECT

private slots:
    // The name and update columns come from the one package lookup the tab
    // is given, asked again on every refresh; rows are the primary unit
    // first, then by UID.
    void devicesTab_namesAndUpdatesComeFromTheGivenPackageList() {
        DevicesFixture f;
        QVERIFY(f.unitsIdentified());
        QVERIFY(!f.save.isEnabled());

        f.packages = {package("C3", "Primary EFIS", 1, 5, 0)};  // the primary unit runs 1.4.2
        f.tab->refresh();
        QCOMPARE(f.lookups, 1);
        QCOMPARE(f.table.rowCount(), 3);
        QCOMPARE(f.table.item(0, kColDevice)->text(), QString("Primary EFIS"));
        QCOMPARE(f.table.item(0, kColUpdate)->text(), QString("Yes"));
        QCOMPARE(f.table.item(1, kColDevice)->text(), QString("Tessaly"));
        QCOMPARE(f.table.item(1, kColUpdate)->text(), QString("Unknown"));
        QCOMPARE(f.table.item(2, kColDevice)->text(), QString("Morrow"));

        f.packages = {package("C3", "Primary EFIS", 1, 4, 2), package("D5", "Companion", 2, 2, 0)};
        f.tab->refresh();
        QCOMPARE(f.lookups, 2);
        QCOMPARE(f.table.item(0, kColUpdate)->text(), QString("No"));
        QCOMPARE(f.table.item(1, kColDevice)->text(), QString("Companion"));
        QCOMPARE(f.table.item(1, kColUpdate)->text(), QString("Yes"));

        f.packages.clear();
        f.tab->refresh();
        QCOMPARE(f.table.item(0, kColDevice)->text(), QString("Halvard"));
        QCOMPARE(f.table.item(0, kColUpdate)->text(), QString("Unknown"));
    }

    // The tab never edits the model: a ticked box or a chosen screen leaves
    // as optionEdited with the whole option word; a third termination is
    // refused on the status bar and sends nothing.
    void devicesTab_optionEditsLeaveAsSignals() {
        DevicesFixture f;
        QVERIFY(f.unitsIdentified());
        f.loadOptions(0b010);  // UID 1 terminated
        f.tab->refresh();
        QSignalSpy edits(f.tab.get(), &vk61::DevicesTab::optionEdited);

        optionBox<QCheckBox>(f.table, 1, kColTermination)->click();  // UID 2
        QCOMPARE(edits.size(), 1);
        QCOMPARE(edits.at(0).at(0).toInt(), int(vk61::kIndexTerminationMask));
        QCOMPARE(edits.at(0).at(1).value<std::uint32_t>(), 0b110u);
        QCOMPARE(f.model.value(vk61::kIndexTerminationMask), 0b010u);

        f.loadOptions(0b110);
        f.tab->refresh();
        edits.clear();
        QCheckBox* third = optionBox<QCheckBox>(f.table, 2, kColTermination);  // UID 3
        third->click();
        QVERIFY(edits.isEmpty());
        QVERIFY(!third->isChecked());
        QCOMPARE(f.status.currentMessage(), QString("Only two devices may have termination enabled at the same time."));

        QComboBox* screen = optionBox<QComboBox>(f.table, 0, kColScreen);  // UID 1
        screen->setCurrentIndex(screen->findData(3));
        QCOMPARE(edits.size(), 1);
        const unsigned index = edits.at(0).at(0).toUInt();
        QCOMPARE(index, vk61::kIndexDefaultScreenFirst);
        vk61::ConfigRecord edited = f.model.record();
        vk61::config_set_value(edited, index, edits.at(0).at(1).value<std::uint32_t>());
        QCOMPARE(int(edited.default_screen(1)), 3);
        QCOMPARE(int(edited.default_screen(2)), int(f.model.record().default_screen(2)));

        f.tab->showOptionsPending(true);
        QVERIFY(f.save.isEnabled());
    }

    // The panel tells the window when a load has shown a configuration (the
    // devices table follows it) and whether option edits wait for a store;
    // a load that stops at a header word announces nothing.
    void configurationPanel_announcesLoadsAndPendingOptions() {
        windowtest::SimulatedWindow sw;
        QVERIFY(sw.waitForInitialLoad());
        auto* panel = sw.window->findChild<vk61::ConfigurationPanel*>();
        QVERIFY(panel != nullptr);
        QSignalSpy loaded(panel, &vk61::ConfigurationPanel::loaded);
        QSignalSpy pending(panel, &vk61::ConfigurationPanel::deviceOptionsPending);

        sw.click("pushButton_load");
        QCOMPARE(loaded.size(), 1);
        QVERIFY(!pending.isEmpty());
        QCOMPARE(pending.last().at(0).toBool(), false);

        auto* table = sw.widget<QTableWidget>("table_devices");
        optionBox<QCheckBox>(*table, 0, kColTermination)->click();
        QCOMPARE(pending.last().at(0).toBool(), true);
        QVERIFY(sw.widget<QPushButton>("pushButton_save_devices")->isEnabled());
        sw.widget<QSpinBox>("spinBox_vs0")->setValue(47);  // not an option: still pending
        QCOMPARE(pending.last().at(0).toBool(), true);

        sw.click("pushButton_save_devices");
        QCOMPARE(sw.status(), QString("Device settings saved to EEPROM successfully"));
        QCOMPARE(pending.last().at(0).toBool(), false);
        QVERIFY(!sw.widget<QPushButton>("pushButton_save_devices")->isEnabled());

        sim::Fault fault;
        fault.kind = sim::FaultKind::Drop;
        fault.reply = sim::ReplyKind::SettingReply;
        fault.command = 0x370;
        fault.index = vk61::kIndexChecksum;
        fault.times = 3;
        sw.bus.add_fault(fault);
        loaded.clear();
        sw.click("pushButton_load");
        QCOMPARE(sw.status(), QString("Error: Failed to read checksum from device"));
        QVERIFY(loaded.isEmpty());
    }
};

QTEST_MAIN(WindowPartsTest)
#include "test_window_parts.moc"
