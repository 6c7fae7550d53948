// After a firmware update from the update tab: the question whether to
// reboot, the reboot wait, the reload and the comparison with the backup
// taken before the update, with the restore preview when a setting differs.
// Every case ends with what the units store in their EEPROM.
#include <QDialog>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>

#include "config/backup_store.h"
#include "config/settings_catalogue.h"
#include "update_test_support.h"

using updatetest::browse;
using updatetest::DialogDriver;
using windowtest::SimulatedWindow;

namespace {

using namespace std::chrono_literals;

vk61::WindowSettings quickReboot() {
    vk61::WindowSettings settings = updatetest::updateSettings();
    settings.reboot.first_check = 300ms;
    settings.reboot.next_check = 100ms;
    settings.reboot.checks = 20;
    return settings;
}

}  // namespace

class UpdateCheckTest : public QObject {
    Q_OBJECT

    QTemporaryDir files;

private slots:
    void theConfigurationAfterTheUpdateIsComparedWithTheBackup() {
        const unsigned vne = vk61::find_setting("v_ne")->first_index;
        struct Row {
            const char* name;
            bool noBackup;  // the backup before the update cannot be written
            bool firmwareChangesVne;
            const char* question;  // the answer to "Reboot Units"
            const char* preview;   // "Apply", "Cancel", or "" when no preview may open
            const char* finalStatus;
            bool endsChanged;  // every unit stores the firmware's v_ne, not the one from before
            std::size_t reboots;
        };
        const Row rows[] = {
            {"unchanged", false, false, "Yes", "", "Configuration unchanged by the update", false, 1},
            {"changed, applied", false, true, "Yes", "Apply", "Configuration restored from ", false, 1},
            {"changed, preview cancelled", false, true, "Yes", "Cancel", "Configuration not restored; nothing was sent",
             true, 1},
            {"changed, no reboot", false, true, "No", "", "Firmware update finished", true, 0},
            {"changed, no backup", true, true, "Yes", "",
             "No backup of the configuration was taken before the update; nothing can be compared", true, 1},
        };
        const QString image = files.filePath("fw.bin");
        QVERIFY(updatetest::writeFile(image, updatetest::firmwareImage(0x20000, 4000, 0x100)));
        for (const Row& row : rows) {
            SimulatedWindow w(3, quickReboot());
            w.bus.set_reboot_duration(200ms);
            QVERIFY2(w.waitForInitialLoad(), row.name);
            if (row.noBackup) {
                // A file where the backup folder goes.
                const QString root = vk61::BackupStore::default_root();
                QVERIFY(updatetest::writeFile(root, "in the way"));
            }
            const std::uint32_t before = *w.bus.eeprom_element(1, vne);
            const std::uint32_t changed = before == 150 ? 151 : 150;
            // What the firmware does here: the configuration a reboot loads
            // holds another v_ne, with a checksum that matches it.
            if (row.firmwareChangesVne) {
                for (std::uint8_t uid : w.bus.unit_uids()) {
                    QVERIFY(w.bus.set_eeprom_element(uid, vne, changed));
                    QVERIFY(w.bus.set_eeprom_element(uid, 252, sim::config_image_crc(*w.bus.eeprom_image(uid))));
                }
            }

            DialogDriver dialogs;
            QStringList previewRows;
            int previews = 0;
            dialogs.onOtherDialog = [&](QDialog* dialog) {
                ++previews;
                auto* table = dialog->findChild<QTableWidget*>(QStringLiteral("table_configuration_changes"));
                for (int r = 0; table && r < table->rowCount(); ++r) {
                    previewRows << QStringList{table->item(r, 0)->text(), table->item(r, 1)->text(),
                                               table->item(r, 2)->text()}
                                       .join(QLatin1Char(' '));
                }
                if (QString(row.preview) == QStringLiteral("Apply")) {
                    dialog->findChild<QPushButton*>(QStringLiteral("pushButton_apply_configuration"))->click();
                } else {
                    dialog->reject();
                }
            };
            QVERIFY2(browse(w.widget<QPushButton>("pushButton_browse"), dialogs, image), row.name);
            w.bus.clear_host_frames();
            dialogs.pressButton(row.question);
            w.widget<QPushButton>("pushButton_start_update")->click();

            QTRY_VERIFY2_WITH_TIMEOUT(dialogs.titles().contains("Reboot Units"), row.name, 20000);
            QTRY_VERIFY2_WITH_TIMEOUT(w.status().startsWith(row.finalStatus) && !w.window->busExchangeRunning(),
                                      qPrintable(QString("%1: %2").arg(row.name, w.status())), 20000);
            QCOMPARE(dialogs.unanswered(), 0);
            if (QString(row.preview).isEmpty()) {
                QCOMPARE(previews, 0);
            } else {
                // The preview of the backup: v_ne on the EFIS now, and in the backup.
                QCOMPARE(previewRows, QStringList{QString("v_ne %1 %2").arg(changed).arg(before)});
                QVERIFY(!w.diagnostics.messagesStartingWith("1 setting(s) differ from the backup").isEmpty());
            }
            std::size_t reboots = 0;
            for (const sim::HostFrame& f : w.bus.host_frames()) reboots += f.frame.base() == 0x3B0 ? 1 : 0;
            QCOMPARE(reboots, row.reboots);
            for (std::uint8_t uid : w.bus.unit_uids()) {
                QCOMPARE(*w.bus.eeprom_element(uid, vne), row.endsChanged ? changed : before);
                QCOMPARE(*w.bus.eeprom_element(uid, 252), sim::config_image_crc(*w.bus.eeprom_image(uid)));
            }
        }
    }
};

VK61_UPDATE_TEST_MAIN(UpdateCheckTest)
#include "test_update_check.moc"
