// Whole transfers from the update tab against the simulated units: what ends
// up in each unit's flash, the bars and the status texts on the way, failures,
// and how many progress updates reach the GUI thread.
#include <QElapsedTimer>
#include <QCheckBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTextEdit>

#include <algorithm>
#include <map>
#include <utility>

#include "update_test_support.h"

using updatetest::browse;
using updatetest::DialogDriver;
using updatetest::startingWith;
using windowtest::SimulatedWindow;

namespace {

constexpr std::uint32_t kTotalSize = 0x20000;  // two erase blocks per unit
constexpr std::uint32_t kBody = 4000;          // 62 full chunks and one of 32 bytes
constexpr std::uint32_t kOffset = 0x100;

std::vector<std::uint8_t> bytesOf(const QByteArray& a, qsizetype from, qsizetype len) {
    const auto* p = reinterpret_cast<const std::uint8_t*>(a.constData()) + from;
    return {p, p + len};
}

bool allErased(const std::vector<std::uint8_t>& bytes) {
    return std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b == 0xFF; });
}

}  // namespace

class UpdateTransfersTest : public QObject {
    Q_OBJECT

    QTemporaryDir files;

    QString writeFirmware(const QString& name, unsigned seed = 1) {
        const QString path = files.filePath(name);
        updatetest::writeFile(path, updatetest::firmwareImage(kTotalSize, kBody, kOffset, seed));
        return path;
    }

private slots:
    // Three units at different write addresses, their space pre-filled with
    // zeros so that a missing erase shows: each ends with the header at its
    // write address, erased bytes up to the image, the image, erased bytes
    // to the end of total_size.
    void firmwareUpdate_writesEveryUnitAndEndsWithFinished() {
        SimulatedWindow w(3, updatetest::updateSettings());
        QVERIFY(w.waitForInitialLoad());
        DialogDriver dialogs;
        const std::map<std::uint8_t, std::uint32_t> address{{1, 0x00100000}, {2, 0x00200000}, {3, 0x00340000}};
        for (const auto& [uid, at] : address) {
            QVERIFY(w.bus.set_firmware_address(uid, at));
            QVERIFY(w.bus.preload_flash(uid, at, std::vector<std::uint8_t>(kTotalSize, 0x00)));
        }
        const QString path = writeFirmware("app.bin");
        QVERIFY(browse(w.widget<QPushButton>("pushButton_browse"), dialogs, path));
        QCOMPARE(w.widget<QTextEdit>("text_firmware_file")->toPlainText(), QString("app.bin"));

        auto* bar = w.widget<QProgressBar>("progressBar_firmware");
        QList<int> values;
        connect(bar, &QProgressBar::valueChanged, this, [&values](int v) { values << v; });
        w.statuses.clear();
        w.widget<QPushButton>("pushButton_start_update")->click();
        for (const char* name :
             {"pushButton_browse", "pushButton_fetch_fw", "pushButton_start_update", "text_firmware_file"}) {
            QVERIFY2(!w.widget<QWidget>(name)->isEnabled(), name);
        }
        QVERIFY(bar->isEnabled());
        QCOMPARE(w.statuses.value(0), QString("Preparing firmware update..."));

        QTRY_COMPARE_WITH_TIMEOUT(w.status(), QString("Firmware update finished"), 20000);
        QCOMPARE(w.statuses.mid(w.statuses.size() - 2),
                 (QStringList{"Firmware upload complete", "Firmware update finished"}));
        // Erase first, over all three units' blocks, then the image bytes.
        const QStringList progress = w.statuses.mid(1, w.statuses.size() - 3);
        QCOMPARE(progress.first(), QString("Erasing: 0 / 6 blocks"));
        QVERIFY(progress.contains("Erasing: 6 / 6 blocks"));
        const qsizetype firstUpload = progress.indexOf("Uploading: 0 / 4000 bytes");
        QVERIFY(firstUpload > 0);
        QCOMPARE(startingWith(progress.mid(firstUpload), "Uploading: ").size(), progress.size() - firstUpload);
        QCOMPARE(progress.last(), QString("Uploading: 4000 / 4000 bytes"));
        QCOMPARE(bar->maximum(), 10000);
        QCOMPARE(bar->value(), 10000);
        QVERIFY(values.contains(1200));
        QVERIFY(std::is_sorted(values.begin(), values.end()));
        for (const char* name :
             {"pushButton_browse", "pushButton_fetch_fw", "pushButton_start_update", "text_firmware_file"}) {
            QVERIFY2(w.widget<QWidget>(name)->isEnabled(), name);
        }

        const QByteArray image = updatetest::firmwareImage(kTotalSize, kBody, kOffset, 1);
        for (const auto& [uid, at] : address) {
            QCOMPARE(w.bus.flash_bytes(uid, at, 64), bytesOf(image, 0, 64));
            QVERIFY(allErased(w.bus.flash_bytes(uid, at + 64, kOffset - 64)));
            QCOMPARE(w.bus.flash_bytes(uid, at + kOffset, kBody), bytesOf(image, 64, kBody));
            QVERIFY(allErased(w.bus.flash_bytes(uid, at + kOffset + kBody, kTotalSize - kOffset - kBody)));
            QCOMPARE(w.bus.unit_status(uid)->flash_faults.unerased_writes, std::size_t{0});
        }
        QCOMPARE(w.diagnostics.logLinesStartingWith("firmware update: prepare, erase, image, and header write complete")
                     .size(),
                 std::size_t{1});
    }

    // A NACK at UID 2's second block ends the update in the erase step: the
    // status says only that it finished, the bar stays in the erase range,
    // nothing is written, and the next start runs normally.
    void failedErase_endsWithFinishedAndStartEnabled() {
        SimulatedWindow w(3, updatetest::updateSettings());
        QVERIFY(w.waitForInitialLoad());
        DialogDriver dialogs;
        QVERIFY(browse(w.widget<QPushButton>("pushButton_browse"), dialogs, writeFirmware("nack.bin")));
        w.bus.add_fault({sim::FaultKind::Nack, sim::ReplyKind::SequencedAck, 0x430, 2, 1});
        w.bus.clear_host_frames();
        w.statuses.clear();

        auto* start = w.widget<QPushButton>("pushButton_start_update");
        start->click();
        QTRY_COMPARE_WITH_TIMEOUT(w.status(), QString("Firmware update finished"), 10000);
        QVERIFY(!w.statuses.contains("Firmware upload complete"));
        QVERIFY(start->isEnabled());
        QVERIFY(w.widget<QPushButton>("pushButton_browse")->isEnabled());
        QVERIFY(w.widget<QPushButton>("pushButton_fetch_fw")->isEnabled());
        QVERIFY(w.widget<QProgressBar>("progressBar_firmware")->value() < 1200);
        QCOMPARE(w.diagnostics.logLinesStartingWith("erase_fw_update_blocks: failed").size(), std::size_t{1});
        QVERIFY(w.hostFrames(0x420).empty());

        w.statuses.clear();
        start->click();
        QTRY_COMPARE_WITH_TIMEOUT(w.status(), QString("Firmware update finished"), 20000);
        QVERIFY(w.statuses.contains("Firmware upload complete"));
    }

    // Before anything is sent the window checks what the update will do: a
    // header no erase run can follow is refused, an erase far beyond the
    // image is asked about; "No" sends nothing, "Yes" updates every unit.
    void firmwarePlan_refusesOrAsksBeforeAnythingIsSent() {
        SimulatedWindow w(3, updatetest::updateSettings());
        QVERIFY(w.waitForInitialLoad());
        DialogDriver dialogs;
        constexpr std::uint32_t kFarBeyond = 0x300000;  // 3 MiB for a 4,000-byte image
        struct Row {
            const char* name;
            std::uint32_t total_size;
            const char* answer;
            const char* title;
            const char* status;  // the status the start ends with begins so
            bool sent;
        };
        const Row rows[] = {
            {"erase of 0xFFFFFFFF bytes", 0xFFFFFFFF, "OK", "Firmware File Unusable", "Firmware update not started",
             false},
            {"3 MiB beyond the image, No", kFarBeyond, "No", "Confirm Firmware Update", "Firmware update cancelled",
             false},
            {"3 MiB beyond the image, Yes", kFarBeyond, "Yes", "Confirm Firmware Update", "Firmware update finished",
             true},
        };
        unsigned seed = 20;
        for (const Row& row : rows) {
            const QByteArray image = updatetest::firmwareImage(row.total_size, kBody, kOffset, ++seed);
            const QString path = files.filePath(QStringLiteral("plan-%1.bin").arg(seed));
            updatetest::writeFile(path, image);
            QVERIFY2(browse(w.widget<QPushButton>("pushButton_browse"), dialogs, path), row.name);
            dialogs.clear();
            w.bus.clear_host_frames();
            w.statuses.clear();
            dialogs.pressButton(row.answer);
            w.widget<QPushButton>("pushButton_start_update")->click();
            QTRY_VERIFY2_WITH_TIMEOUT(w.status().startsWith(row.status), qPrintable(row.name + (": " + w.status())),
                                      20000);
            QVERIFY2(dialogs.titles().contains(row.title), qPrintable(dialogs.titles().join(", ")));
            QCOMPARE(w.hostFrames(0x730).empty(), !row.sent);
            if (!row.sent) continue;
            QTRY_VERIFY_WITH_TIMEOUT(w.widget<QPushButton>("pushButton_start_update")->isEnabled(), 10000);
            for (std::uint8_t uid : w.bus.unit_uids()) {
                const std::uint32_t at = w.bus.unit_status(uid)->firmware_address;
                QCOMPARE(w.bus.flash_bytes(uid, at + kOffset, kBody), bytesOf(image, 64, kBody));
                QCOMPARE(w.bus.flash_bytes(uid, at, 64), bytesOf(image, 0, 64));
            }
        }
    }

    // One unit at a time, units with UIDs 2 and 5: each gets the whole file at address 0 between
    // its close and open commands, the texts name the unit's place and UID,
    // and the bar starts again at 0 for the second unit. The number of
    // progress updates stays within what the throttle allows.
    void airportTransfer_eachUnitInTurnWithItsOwnBar() {
        SimulatedWindow w(1, updatetest::updateSettings());
        QVERIFY(w.bus.remove_unit(1));  // before the window connects
        sim::UnitSpec two;
        two.uid = 2;
        two.device_id = 0xD5020002u;
        sim::UnitSpec five;
        five.uid = 5;
        five.device_id = 0xFF010005u;
        QVERIFY(w.bus.add_unit(two));
        QVERIFY(w.bus.add_unit(five));
        QVERIFY(w.waitForInitialLoad());
        DialogDriver dialogs;

        const qsizetype size = 64 * 1024 + 100;  // two blocks: 1,025 full chunks and one of 36 bytes
        const QByteArray database = updatetest::nonZeroBytes(size, 7);
        const QString path = files.filePath("airports.db");
        QVERIFY(updatetest::writeFile(path, database));
        for (std::uint8_t uid : {2, 5}) QVERIFY(w.bus.preload_flash(uid, 0, std::vector<std::uint8_t>(0x20000, 0)));
        QVERIFY(browse(w.widget<QPushButton>("pushButton_browse_airports"), dialogs, path));
        QCOMPARE(w.widget<QTextEdit>("text_firmware_file_2")->toPlainText(), QString("airports.db"));

        auto* bar = w.widget<QProgressBar>("progressBar_airports");
        QList<int> values;
        connect(bar, &QProgressBar::valueChanged, this, [&values](int v) { values << v; });
        w.statuses.clear();
        QElapsedTimer clock;
        clock.start();
        w.widget<QCheckBox>("checkBox_one_unit_at_a_time")->setChecked(true);
        w.widget<QPushButton>("pushButton_start_airport")->click();
        QTRY_COMPARE(w.statuses.value(0), QString("Starting airport database transfer to 2 device(s)..."));
        const QString done = "Airport database transfer finished on all 2 device(s)";
        QTRY_COMPARE_WITH_TIMEOUT(w.status(), done, 30000);
        const qint64 elapsed_ms = clock.elapsed();

        const QStringList first = startingWith(w.statuses, "Device 1 / 2 (UID 2): ");
        const QStringList second = startingWith(w.statuses, "Device 2 / 2 (UID 5): ");
        QCOMPARE(first.size() + second.size(), w.statuses.size() - 2);
        QCOMPARE(w.statuses.indexOf(first.last()) + 1, w.statuses.indexOf(second.first()));
        for (const auto& [prefix, unit] : {std::pair{QString("Device 1 / 2 (UID 2): "), first},
                                           std::pair{QString("Device 2 / 2 (UID 5): "), second}}) {
            QCOMPARE(unit.first(), prefix + "erasing 0 / 2 blocks");
            QVERIFY(unit.contains(prefix + "erasing 2 / 2 blocks"));
            QVERIFY(unit.contains(prefix + "uploading 0 / 65636 bytes"));
            QCOMPARE(unit.last(), prefix + "uploading 65636 / 65636 bytes");
            // The throttle: besides the first and the last, one update per
            // 40 units of the bar (8,800 for the write) or per 40 ms.
            const qsizetype uploads = startingWith(unit, prefix + "uploading").size();
            QVERIFY2(uploads <= 2 + 8800 / 40 + elapsed_ms / 40, qPrintable(QString::number(uploads)));
            QVERIFY2(uploads < 1026 / 3, qPrintable(QString::number(uploads)));
        }
        // Up to 10,000 for UID 2, back to 0, up to 10,000 again.
        const qsizetype restart = values.indexOf(0, 1);
        QVERIFY(restart > 0);
        QCOMPARE(values[restart - 1], 10000);
        QVERIFY(std::is_sorted(values.begin(), values.begin() + restart));
        QVERIFY(std::is_sorted(values.begin() + restart, values.end()));
        QCOMPARE(bar->value(), 10000);
        for (const char* name : {"pushButton_browse_airports", "pushButton_fetch_apt_db", "pushButton_start_airport",
                                 "text_firmware_file_2"}) {
            QVERIFY2(w.widget<QWidget>(name)->isEnabled(), name);
        }

        for (std::uint8_t uid : {2, 5}) {
            QCOMPARE(w.bus.flash_bytes(uid, 0, size), bytesOf(database, 0, size));
            QVERIFY(allErased(w.bus.flash_bytes(uid, size, 0x20000 - size)));
            const sim::UnitStatus status = *w.bus.unit_status(uid);
            QVERIFY(status.db_open);
            QCOMPARE(status.flash_faults.unerased_writes, std::size_t{0});
            QCOMPARE(status.flash_faults.open_db_writes, std::size_t{0});
        }
    }

    // One unit at a time, the second of three units refuses to close its
    // database: the first
    // keeps its new one, the third is not touched, the bar drops to 0.
    void airportTransfer_stopsAtTheFirstFailingUnit() {
        SimulatedWindow w(3, updatetest::updateSettings());
        QVERIFY(w.waitForInitialLoad());
        DialogDriver dialogs;
        const QByteArray database = updatetest::nonZeroBytes(3000, 9);
        const QString path = files.filePath("small.db");
        QVERIFY(updatetest::writeFile(path, database));
        QVERIFY(browse(w.widget<QPushButton>("pushButton_browse_airports"), dialogs, path));
        w.bus.add_fault({sim::FaultKind::Nack, sim::ReplyKind::PlainAck, 0x450, 2});
        w.bus.clear_host_frames();

        w.widget<QCheckBox>("checkBox_one_unit_at_a_time")->setChecked(true);
        w.widget<QPushButton>("pushButton_start_airport")->click();
        QTRY_COMPARE_WITH_TIMEOUT(w.status(), QString("Airport database transfer failed on UID 2 (1 / 3 succeeded)"),
                                  20000);
        QCOMPARE(w.widget<QProgressBar>("progressBar_airports")->value(), 0);
        QVERIFY(w.widget<QPushButton>("pushButton_start_airport")->isEnabled());
        QCOMPARE(w.bus.flash_bytes(1, 0, 3000), bytesOf(database, 0, 3000));
        QVERIFY(allErased(w.bus.flash_bytes(2, 0, 3000)));
        QVERIFY(allErased(w.bus.flash_bytes(3, 0, 3000)));
        for (const sim::HostFrame& f : w.bus.host_frames()) QVERIFY(f.frame.identifier() != (0x450u | 3));
    }

    // Every unit at once, UID 2 refuses a chunk: the status names who holds
    // the new database. The next Start offers to resume; Yes finishes UID 2
    // from what it confirmed (no block erased again, the others left alone),
    // No starts afresh on every unit.
    void airportTransfer_togetherNamesTheUnitsThenResumes_data() {
        QTest::addColumn<QString>("answer");
        QTest::addColumn<bool>("resumed");
        QTest::newRow("resume") << "Yes" << true;
        QTest::newRow("afresh") << "No" << false;
    }
    void airportTransfer_togetherNamesTheUnitsThenResumes() {
        QFETCH(QString, answer);
        QFETCH(bool, resumed);
        SimulatedWindow w(3, updatetest::updateSettings());
        QVERIFY(w.waitForInitialLoad());
        DialogDriver dialogs;
        const qsizetype size = 70000;
        const QByteArray database = updatetest::nonZeroBytes(size, 4);
        const QString path = files.filePath("together.db");
        QVERIFY(updatetest::writeFile(path, database));
        QVERIFY(browse(w.widget<QPushButton>("pushButton_browse_airports"), dialogs, path));
        w.bus.add_fault({sim::FaultKind::Nack, sim::ReplyKind::FlashReply, 0x420, 2, 299});

        w.widget<QPushButton>("pushButton_start_airport")->click();
        QTRY_VERIFY_WITH_TIMEOUT(w.status().startsWith("Airport database transfer failed: "), 20000);
        QCOMPARE(w.status(), QString("Airport database transfer failed: UID 1, 3 hold the new airport database; "
                                     "UID 2 does not (write failed on UID 2: refused by the unit)"));
        QVERIFY(!w.bus.unit_status(2)->db_open);

        w.bus.clear_host_frames();
        dialogs.clear();
        dialogs.pressButton(answer);
        w.widget<QPushButton>("pushButton_start_airport")->click();
        QTRY_COMPARE_WITH_TIMEOUT(w.status(), QString("Airport database transfer finished on all 3 device(s)"), 20000);
        QCOMPARE(dialogs.titles(), QStringList{"Resume Airport Database Upload"});
        const std::vector<sim::HostFrame> frames = w.bus.host_frames();
        for (std::uint8_t uid : {1, 2, 3}) {
            const sim::UnitStatus status = *w.bus.unit_status(uid);
            QCOMPARE(w.bus.flash_bytes(uid, 0, size), bytesOf(database, 0, size));
            QVERIFY(status.db_open);
            // Flash and database commands addressed to the unit.
            const bool touched = std::any_of(frames.begin(), frames.end(), [uid](const sim::HostFrame& f) {
                return f.frame.uid_bits() == uid && f.frame.base() >= 0x420 && f.frame.base() <= 0x450;
            });
            QCOMPARE(touched, !resumed || uid == 2);
            const std::size_t erased_again = touched && !(resumed && uid == 2) ? 2 : 0;  // both blocks, once more
            QCOMPARE(status.flash_faults.repeated_erases, erased_again);
        }
    }
};

VK61_UPDATE_TEST_MAIN(UpdateTransfersTest)
#include "test_update_transfers.moc"
