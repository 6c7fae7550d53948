// The Configuration menu against the simulated units: export, import through
// the preview, the automatic backups. Every case ends with what the units
// hold in EEPROM, not with what the window says.
#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QFileDialog>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <functional>
#include <map>
#include <memory>

#include "config/backup_store.h"
#include "core/config_timeouts.h"
#include "update_test_support.h"
#include "core/device_text.h"
#include "window_test_support.h"

namespace {

using namespace std::chrono_literals;
using windowtest::SimulatedWindow;

// Answers the modal dialogs of one menu action: file dialogs with path,
// the preview with `onPreview`, message boxes with OK (their texts kept).
class ModalAnswers : public QObject {
public:
    QString path;
    std::function<void(QDialog*)> onPreview;
    std::function<void(QDialog*)> onBackups;
    QStringList messageTexts;
    int previews = 0;

    ModalAnswers() {
        timer_.setInterval(5);
        connect(&timer_, &QTimer::timeout, this, [this] { poll(); });
        timer_.start();
    }

private:
    void poll() {
        QWidget* widget = QApplication::activeModalWidget();
        if (widget == nullptr || !widget->isVisible() || widget == last_) return;
        last_ = widget;
        if (auto* files = qobject_cast<QFileDialog*>(widget)) {
            if (path.isEmpty()) {
                files->reject();
                return;
            }
            updatetest::chooseInFileDialog(files, path);
        } else if (auto* box = qobject_cast<QMessageBox*>(widget)) {
            messageTexts << box->text();
            box->accept();
        } else if (widget->objectName() == QStringLiteral("dialog_configuration_preview")) {
            ++previews;
            if (onPreview)
                onPreview(static_cast<QDialog*>(widget));
            else
                static_cast<QDialog*>(widget)->reject();
        } else if (widget->objectName() == QStringLiteral("dialog_configuration_backups") && onBackups) {
            onBackups(static_cast<QDialog*>(widget));
        } else if (auto* dialog = qobject_cast<QDialog*>(widget)) {
            dialog->reject();
        }
    }
    QTimer timer_;
    QPointer<QWidget> last_;
};

QTableWidget* changesTable(QDialog* preview) {
    return preview->findChild<QTableWidget*>(QStringLiteral("table_configuration_changes"));
}

int rowOf(QTableWidget* table, const QString& name) {
    for (int row = 0; row < table->rowCount(); ++row) {
        if (table->item(row, 0)->text() == name) return row;
    }
    return -1;
}

// Unticks a row the way a user does: a click on its check box.
void untick(QTableWidget* table, int row) {
    const QRect cell = table->visualItemRect(table->item(row, 0));
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, QPoint(cell.left() + 10, cell.center().y()));
}

void pressApply(QDialog* preview) {
    preview->findChild<QPushButton*>(QStringLiteral("pushButton_apply_configuration"))->click();
}

}  // namespace

class ConfigBackupsTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<SimulatedWindow> sw;
    QTemporaryDir files;

    std::map<std::uint8_t, sim::ConfigImage> eepromImages() const {
        std::map<std::uint8_t, sim::ConfigImage> out;
        for (std::uint8_t uid : sw->bus.unit_uids()) out[uid] = *sw->bus.eeprom_image(uid);
        return out;
    }

    // Every unit holds expected in EEPROM, under its own matching checksum.
    void expectUnitsHold(const sim::ConfigImage& expected) {
        for (const auto& [uid, image] : eepromImages()) {
            QVERIFY2(image == expected, qPrintable(QString("UID %1 holds another record").arg(uid)));
            QCOMPARE(*sim::config_element(image, 252), sim::config_image_crc(image));
        }
    }

    QAction* action(const char* name) { return sw->window->findChild<QAction*>(QString::fromLatin1(name)); }

    QString exportTo(const QString& name) {
        ModalAnswers answers;
        answers.path = files.filePath(name);
        action("action_export_configuration")->trigger();
        return answers.path;
    }

    void changeVneAndColourAndSave() {
        sw->widget<QSpinBox>("spinBox_vne")->setValue(sw->widget<QSpinBox>("spinBox_vne")->value() == 200 ? 201 : 200);
        windowtest::chooseColour(sw->widget<QPushButton>("color_picker_sky0"), QColor("#123456"));
        sw->click("pushButton_save");
        QVERIFY2(sw->status().startsWith("Configuration saved to EEPROM successfully"), qPrintable(sw->status()));
    }

    std::vector<vk61::BackupStore::Entry> backups() const {
        vk61::CommsManager* comms = sw->window->commsManager();
        for (const vk61::DeviceInfo& unit : comms->device_snapshot()) {
            if (unit.uid != comms->primary_uid()) continue;
            return vk61::BackupStore(vk61::BackupStore::default_root()).list(serialText(unit.device_id));
        }
        return {};
    }

private slots:
    void initTestCase() {
        vk61::WindowSettings settings = windowtest::offTheNetwork();
        settings.config_timeouts = {50, 200, 500};
        settings.initial_load_delay_ms = 1;  // the first load need not wait 1.5 s here
        sw = std::make_unique<SimulatedWindow>(3, settings);
        QVERIFY(sw->waitForInitialLoad());
    }
    void cleanupTestCase() { sw.reset(); }
    void init() {
        sw->reset();
        QFile::remove(vk61::BackupStore::default_root());
        QDir(vk61::BackupStore::default_root()).removeRecursively();
        sw->click("pushButton_load");
        QCOMPARE(sw->status(), QString("Configuration successfully loaded from device"));
        sw->statuses.clear();
    }

    void menu_hasTheThreeActions() {
        auto* menu = sw->window->menuBar()->findChild<QMenu*>("menu_configuration");
        QVERIFY(menu);
        QCOMPARE(menu->title(), QString("Configuration"));
        QStringList texts;
        for (QAction* a : menu->actions()) {
            if (!a->isSeparator()) texts << a->text();
        }
        QCOMPARE(texts, (QStringList{"Export Configuration…", "Import Configuration…", "Backups…"}));
    }

    // The round trip of the issue: export, change Vne and a colour and store
    // them, import the file. Every unit ends byte-identical to the export.
    void exportChangeImport_unitsHoldTheExportedRecord() {
        const sim::ConfigImage exported = eepromImages().at(1);
        const QString path = exportTo("round_trip.json");
        QVERIFY2(sw->status().startsWith("Configuration exported to"), qPrintable(sw->status()));

        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QJsonDocument json = QJsonDocument::fromJson(file.readAll());
        QVERIFY(json.isObject());
        QVERIFY(json["settings"]["registration"].isString());

        changeVneAndColourAndSave();
        QVERIFY(eepromImages().at(1) != exported);
        QVERIFY(!backups().empty());

        ModalAnswers answers;
        answers.path = path;
        QStringList names;
        answers.onPreview = [&](QDialog* preview) {
            QTableWidget* table = changesTable(preview);
            for (int row = 0; row < table->rowCount(); ++row) names << table->item(row, 0)->text();
            pressApply(preview);
        };
        sw->statuses.clear();
        action("action_import_configuration")->trigger();
        QVERIFY(sw->waitForBusIdle());
        QCOMPARE(answers.previews, 1);
        QCOMPARE(names, (QStringList{"v_ne", "sky_color_upper"}));
        QCOMPARE(sw->status(), QString("Configuration restored from round_trip.json: 2 setting(s) changed"));
        QVERIFY(sw->statuses.contains("Configuration successfully loaded from device"));
        QCOMPARE(sw->diagnostics.logLinesStartingWith("CRC Check Passed.").size() >= 1, true);
        expectUnitsHold(exported);
        QVERIFY(sw->window->pendingChangeSet().empty());
    }

    void untickedRow_leavesThatSettingOnTheUnits() {
        const QString path = exportTo("untick.json");
        const std::uint32_t colour = *sim::config_element(eepromImages().at(1), 14);
        changeVneAndColourAndSave();
        const std::uint32_t changedVne = *sim::config_element(eepromImages().at(1), 6);

        ModalAnswers answers;
        answers.path = path;
        answers.onPreview = [&](QDialog* preview) {
            QTableWidget* table = changesTable(preview);
            const int row = rowOf(table, "v_ne");
            QVERIFY(row >= 0);
            untick(table, row);
            QCOMPARE(table->item(row, 0)->checkState(), Qt::Unchecked);
            pressApply(preview);
        };
        action("action_import_configuration")->trigger();
        QVERIFY(sw->waitForBusIdle());
        QCOMPARE(sw->status(), QString("Configuration restored from untick.json: 1 setting(s) changed"));
        for (const auto& [uid, image] : eepromImages()) {
            QCOMPARE(*sim::config_element(image, 6), changedVne);
            QCOMPARE(*sim::config_element(image, 14), colour);
            QCOMPARE(*sim::config_element(image, 252), sim::config_image_crc(image));
        }
    }

    void cancelledPreview_sendsNothing() {
        const QString path = exportTo("cancel.json");
        changeVneAndColourAndSave();
        const auto before = eepromImages();
        sw->bus.clear_host_frames();
        ModalAnswers answers;
        answers.path = path;  // no onPreview: Cancel
        action("action_import_configuration")->trigger();
        QVERIFY(sw->waitForBusIdle());
        QCOMPARE(answers.previews, 1);
        QVERIFY(sw->hostFrames(0x390).empty());
        QVERIFY(sw->hostFrames(0x3A0).empty());
        QVERIFY(eepromImages() == before);
        QVERIFY(sw->window->pendingChangeSet().empty());
    }

    // Hand-edited files with one bad setting: refused with the setting's
    // name before anything goes out.
    void badFile_nothingSentAndTheSettingNamed_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QJsonValue>("value");
        QTest::newRow("Vne out of range") << "v_ne" << QJsonValue(300);
        QTest::newRow("malformed colour") << "airplane_color" << QJsonValue("white");
        QTest::newRow("unknown name") << "v_never" << QJsonValue(100);
        QTest::newRow("three terminators") << "termination_uids" << QJsonValue(QJsonArray{1, 2, 3});
        QTest::newRow("UID above 15") << "termination_uids" << QJsonValue(QJsonArray{31});
        QTest::newRow("NaN correction") << "roll_correction" << QJsonValue("0x7FC00000");
        QTest::newRow("ICAO of 8 digits") << "ownship_icao" << QJsonValue("FFFFFFFF");
        QTest::newRow("screen beyond the list") << "default_screens" << QJsonValue(QJsonObject{{"2", 6}});
    }
    void badFile_nothingSentAndTheSettingNamed() {
        QFETCH(QString, name);
        QFETCH(QJsonValue, value);
        const QString path = exportTo(QString("bad_%1.json").arg(QTest::currentDataTag()).replace(" ", "_"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QJsonObject root = QJsonDocument::fromJson(file.readAll()).object();
        file.close();
        QJsonObject settings = root["settings"].toObject();
        settings["v_min"] = 99;  // a good change before the bad one
        settings[name] = value;
        root["settings"] = settings;
        QVERIFY(updatetest::writeFile(path, QJsonDocument(root).toJson()));

        const auto before = eepromImages();
        sw->bus.clear_host_frames();
        ModalAnswers answers;
        answers.path = path;
        action("action_import_configuration")->trigger();
        QVERIFY(sw->waitForBusIdle());
        QCOMPARE(answers.previews, 0);
        QCOMPARE(answers.messageTexts.size(), 1);
        QVERIFY2(answers.messageTexts[0].contains("\"" + name + "\""), qPrintable(answers.messageTexts[0]));
        QVERIFY2(sw->status().contains("\"" + name + "\"") && sw->status().endsWith("Nothing was sent"),
                 qPrintable(sw->status()));
        QVERIFY(sw->hostFrames(0x390).empty());
        QVERIFY(sw->hostFrames(0x3A0).empty());
        QVERIFY(eepromImages() == before);
    }

    void export_refusedWhileASettingIsUnknown_andNamesUnsentEdits() {
        sw->bus.add_fault(sim::Fault{sim::FaultKind::Drop, sim::ReplyKind::SettingReply, 0x370, 0, 0, 3, 0, 20});
        sw->click("pushButton_load");
        sw->bus.clear_faults();
        QVERIFY(sw->window->configModel().unknown_count() > 0);
        const QString path = exportTo("refused.json");
        QVERIFY(sw->status().startsWith("Error: The configuration was not completely read"));
        QVERIFY(!QFile::exists(path));

        sw->click("pushButton_load");
        sw->widget<QSpinBox>("spinBox_vs0")->setValue(sw->widget<QSpinBox>("spinBox_vs0")->value() + 1);
        const QString edited = exportTo("edited.json");
        QVERIFY2(sw->status().contains("1 change(s) in the form were not sent"), qPrintable(sw->status()));
        QFile file(edited);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QJsonDocument json = QJsonDocument::fromJson(file.readAll());
        QCOMPARE(json["settings"]["v_s0"].toDouble(), double(*sim::config_element(eepromImages().at(1), 2)));
    }

    // A backup before each kind of store and before a firmware update, of
    // the configuration the units held before it.
    void automaticBackups_beforeEveryStoreAndFirmwareUpdate() {
        const std::uint32_t vneBefore = *sim::config_element(eepromImages().at(1), 6);
        changeVneAndColourAndSave();
        auto kept = backups();
        QCOMPARE(kept.size(), std::size_t{1});
        QCOMPARE(kept[0].reason, QString("before Save"));
        {
            QFile file(kept[0].path);
            QVERIFY(file.open(QIODevice::ReadOnly));
            QCOMPARE(QJsonDocument::fromJson(file.readAll())["settings"]["v_ne"].toDouble(), double(vneBefore));
        }

        // The devices tab's save keeps the configuration the first Save stored.
        QCheckBox* termination = nullptr;
        for (QCheckBox* box : sw->window->findChildren<QCheckBox*>()) {
            if (box->property("deviceUid").toUInt() == 3) termination = box;
        }
        QVERIFY(termination);
        termination->click();
        sw->click("pushButton_save_devices");
        QCOMPARE(sw->status(), QString("Device settings saved to EEPROM successfully"));
        kept = backups();
        QCOMPARE(kept.size(), std::size_t{2});
        QCOMPARE(kept[0].reason, QString("before Save changes to EFIS"));

        // A Save keeps what the devices save stored; the next one, with
        // nothing changed since, would write the same again: skipped.
        sw->click("pushButton_save");
        QCOMPARE(backups().size(), std::size_t{3});
        sw->click("pushButton_save");
        QCOMPARE(backups().size(), std::size_t{3});

        // Before a firmware update: the configuration of the last store.
        changeVneAndColourAndSave();
        QCOMPARE(backups().size(), std::size_t{3});
        QTemporaryDir dir;
        const QString image = dir.filePath("fw.bin");
        QVERIFY(updatetest::writeFile(image, updatetest::firmwareImage(0x20000, 4000, 0x100)));
        updatetest::DialogDriver dialogs;
        QVERIFY(updatetest::browse(sw->widget<QPushButton>("pushButton_browse"), dialogs, image));
        sw->click("pushButton_start_update");
        QTRY_COMPARE_WITH_TIMEOUT(sw->status(), QString("Firmware update finished"), 20000);
        kept = backups();
        QCOMPARE(kept.size(), std::size_t{4});
        QCOMPARE(kept[0].reason, QString("before firmware update"));
    }

    void unwritableBackupFolder_storeGoesAheadWithAnError() {
        const QString root = vk61::BackupStore::default_root();
        QDir().mkpath(QFileInfo(root).absolutePath());
        QVERIFY(updatetest::writeFile(root, "in the way"));  // a file where the folder goes
        const auto before = eepromImages();
        changeVneAndColourAndSave();  // checks the store's own message comes first
        QVERIFY(eepromImages() != before);
        QVERIFY2(sw->status().contains("Error: The configuration backup could not be written"),
                 qPrintable(sw->status()));
        QFile::remove(root);
    }

    void backupsDialog_restoresTheChosenBackup() {
        const sim::ConfigImage original = eepromImages().at(1);
        changeVneAndColourAndSave();  // backup of the original
        ModalAnswers answers;
        answers.onPreview = [](QDialog* preview) { pressApply(preview); };
        int listed = 0;
        answers.onBackups = [&](QDialog* list) {
            listed = list->findChild<QTableWidget*>("table_configuration_backups")->rowCount();
            list->findChild<QPushButton*>("pushButton_open_backup")->click();  // the newest, selected
        };
        action("action_configuration_backups")->trigger();
        QVERIFY(sw->waitForBusIdle());
        QCOMPARE(listed, 1);
        QCOMPARE(answers.previews, 1);
        QVERIFY2(sw->status().startsWith("Configuration restored from"), qPrintable(sw->status()));
        expectUnitsHold(original);
    }

    // An EFIS whose configuration memory is erased takes a whole file as its
    // first configuration: every setting previewed as new, the header and
    // every setting written, stored and read back. A file that cannot give
    // it everything is refused before anything goes out.
    void erasedEfis_takesAWholeFileAsItsFirstConfiguration_data() {
        QTest::addColumn<QString>("drop");  // what the file goes without
        QTest::addColumn<bool>("stored");
        QTest::newRow("whole file") << "" << true;
        QTest::newRow("without v_ne") << "v_ne" << false;
        QTest::newRow("without the memory version") << "memory_version" << false;
    }
    void erasedEfis_takesAWholeFileAsItsFirstConfiguration() {
        QFETCH(QString, drop);
        QFETCH(bool, stored);
        const sim::ConfigImage exported = eepromImages().at(1);
        const QString path = exportTo(QString("first_%1.json").arg(drop));
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QJsonObject root = QJsonDocument::fromJson(file.readAll()).object();
        file.close();
        QJsonObject settings = root["settings"].toObject();
        QJsonObject efis = root["efis"].toObject();
        settings.remove(drop);
        efis.remove(drop);
        root["settings"] = settings;
        root["efis"] = efis;
        QVERIFY(updatetest::writeFile(path, QJsonDocument(root).toJson()));

        for (std::uint8_t uid : sw->bus.unit_uids()) {
            for (unsigned index = 0; index < 256; ++index) {
                if (!sim::is_config_index(index)) continue;
                sw->bus.set_eeprom_element(uid, index, 0xFFFFFFFFu);
                sw->bus.set_ram_element(uid, index, 0xFFFFFFFFu);
            }
        }
        const auto erased = eepromImages();
        sw->click("pushButton_load");
        QVERIFY(sw->waitForBusIdle());
        QCOMPARE(sw->status(), QString("Error: The EFIS holds no stored configuration"));

        ModalAnswers answers;
        answers.path = path;
        QStringList efisColumn;
        int checkable = 0;
        answers.onPreview = [&](QDialog* preview) {
            QTableWidget* table = changesTable(preview);
            for (int row = 0; row < table->rowCount(); ++row) {
                efisColumn << table->item(row, 1)->text();
                if (table->item(row, 0)->flags() & Qt::ItemIsUserCheckable) ++checkable;
            }
            pressApply(preview);
        };
        sw->bus.clear_host_frames();
        action("action_import_configuration")->trigger();
        QVERIFY(sw->waitForBusIdle());
        if (!stored) {
            QCOMPARE(answers.previews, 0);
            QVERIFY2(sw->status().contains("erased") && sw->status().endsWith("Nothing was sent"),
                     qPrintable(sw->status()));
            QVERIFY(sw->hostFrames(0x390).empty());
            QVERIFY(sw->hostFrames(0x3A0).empty());
            QVERIFY(eepromImages() == erased);
            return;
        }
        QCOMPARE(answers.previews, 1);
        QCOMPARE(efisColumn.size(), static_cast<qsizetype>(vk61::settings_catalogue().size()));
        QCOMPARE(efisColumn.count("(erased)"), efisColumn.size());
        QCOMPARE(checkable, 0);  // every setting is written
        QCOMPARE(sw->status(), QString("First configuration stored from %1: %2 setting(s) written")
                                   .arg(QFileInfo(path).fileName())
                                   .arg(efisColumn.size()));
        expectUnitsHold(exported);
        QVERIFY(sw->window->pendingChangeSet().empty());
        QCOMPARE(sw->window->configModel().unknown_count(), 0);
    }
};

VK61_UPDATE_TEST_MAIN(ConfigBackupsTest)
#include "test_config_backups.moc"
