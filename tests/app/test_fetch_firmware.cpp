// "Fetch Latest Firmware" and the gate every firmware file passes, against a
// download server on loopback and the simulated units: the offline path and
// its "Select Firmware File" button, digests checked on fetch, on browse and
// again at start, which unit's package is chosen, a manifest with a bad
// entry, and an update started while a fetch waits.
#include <QPushButton>
#include <QTemporaryDir>
#include <QTextEdit>

#include "update_test_support.h"

using updatetest::browse;
using updatetest::DialogDriver;
using updatetest::DownloadServer;
using updatetest::invokeSlot;
using updatetest::SeenDialog;
using windowtest::SimulatedWindow;

namespace {

const QString kManifestPath = "/firmware/downloads_manifest.json";

// One package per simulated unit type, each its own small firmware file.
struct Packages {
    QByteArray c3 = updatetest::firmwareImage(0x20000, 1000, 0x100, 31);
    QByteArray d5 = updatetest::firmwareImage(0x20000, 1000, 0x100, 32);
    QByteArray ff = updatetest::firmwareImage(0x20000, 1000, 0x100, 33);

    bool publish(DownloadServer& server) const {
        return server.putManifest({server.firmwareEntry("C3", "1.5.0", "halvard.bin", c3),
                                   server.firmwareEntry("D5", "2.1.0", "tessaly.bin", d5),
                                   server.firmwareEntry("FF", "1.0.3", "morrow.bin", ff)});
    }
};

}  // namespace

class FetchFirmwareTest : public QObject {
    Q_OBJECT

    QTemporaryDir files;

    // A window whose units are all known, with empty download caches.
    static bool ready(SimulatedWindow& w, DownloadServer&) {
        if (!w.waitForInitialLoad()) return false;
        updatetest::resetDownloads();
        w.window->manifestService().forget_memory_copy();
        return true;
    }
    static QString selected(SimulatedWindow& w) { return w.widget<QTextEdit>("text_firmware_file")->toPlainText(); }
    static bool startEnabled(SimulatedWindow& w) {
        return w.widget<QPushButton>("pushButton_start_update")->isEnabled();
    }
    static void fetch(SimulatedWindow& w) {
        QVERIFY(updatetest::clickAndWaitForFetch(w.window.get(), w.widget<QPushButton>("pushButton_fetch_fw")));
    }
    static bool buttonsEnabled(SimulatedWindow& w) {
        return w.widget<QPushButton>("pushButton_fetch_fw")->isEnabled() &&
               w.widget<QPushButton>("pushButton_browse")->isEnabled();
    }

private slots:
    // Online, then offline: the box offers "Select Firmware File"; a file
    // chosen there whose name the earlier manifest knows is tested against
    // that digest; the status names the failed download in every case.
    void offline_offersSelectFirmwareFile() {
        DownloadServer server;
        Packages packages;
        QVERIFY(packages.publish(server));
        SimulatedWindow w(3, updatetest::updateSettings(server.manifestUrl()));
        QVERIFY(ready(w, server));
        DialogDriver dialogs;
        fetch(w);
        QCOMPARE(w.status(), QString("Firmware ready: halvard.bin"));

        server.close();
        const QString other = files.filePath("other.bin");
        QVERIFY(updatetest::writeFile(other, updatetest::firmwareImage(0x20000, 500, 0x100, 40)));
        const QString stranger = files.filePath("halvard.bin");  // known name, other bytes
        QVERIFY(updatetest::writeFile(stranger, updatetest::firmwareImage(0x20000, 500, 0x100, 41)));

        struct Row {
            const char* answer;
            QString file;
            QString selectedAfter;
            bool rejected;
        };
        const Row rows[] = {
            {"OK", QString(), "halvard.bin", false},              // the earlier choice stays
            {"Select Firmware File", other, "other.bin", false},  // no digest known for the name
            {"Select Firmware File", stranger, QString(), true},  // digest of the manifest's halvard.bin
        };
        for (const Row& row : rows) {
            dialogs.clear();
            w.statuses.clear();
            dialogs.pressButton(row.answer);
            if (!row.file.isEmpty()) dialogs.chooseFile(row.file);
            if (row.rejected) dialogs.pressButton("OK");
            fetch(w);
            QCOMPARE(dialogs.unanswered(), 0);
            const SeenDialog box = dialogs.seen().first();
            QCOMPARE(box.title, QString("Manifest Unavailable"));
            QCOMPARE(box.text, QString("Could not download the firmware manifest from the server."));
            QCOMPARE(box.informative, QString("Connect to the internet and try again, or select a firmware file "
                                              "manually using \"Select Firmware File\"."));
            QCOMPARE(box.icon, QMessageBox::Warning);
            QStringList buttons = box.buttons;
            buttons.sort();
            QCOMPARE(buttons, (QStringList{"OK", "Select Firmware File"}));
            QCOMPARE(box.actionButtons, QStringList{"Select Firmware File"});
            QCOMPARE(w.statuses.first(), QString("Fetching firmware manifest..."));
            QCOMPARE(w.status(), QString("Could not download firmware manifest"));
            QCOMPARE(selected(w), row.selectedAfter);
            QCOMPARE(startEnabled(w), !row.selectedAfter.isEmpty());
            QVERIFY(buttonsEnabled(w));
            if (row.rejected) {
                QCOMPARE(dialogs.seen().last().title, QString("Firmware Verification Failed"));
                QCOMPARE(dialogs.seen().last().icon, QMessageBox::Critical);
                QVERIFY(w.statuses.contains("Firmware file rejected (SHA-256 mismatch)"));
            }
        }
    }

    // A fetched file is checked again when the update starts: changed on disk
    // it is rejected with the critical box, the selection is cleared and no
    // unit is asked to prepare. A package whose download does not match its
    // digest drops the file accepted before.
    void digestMismatch_rejectedAndSelectionCleared() {
        DownloadServer server;
        Packages packages;
        QVERIFY(packages.publish(server));
        SimulatedWindow w(3, updatetest::updateSettings(server.manifestUrl()));
        QVERIFY(ready(w, server));
        DialogDriver dialogs;
        w.statuses.clear();
        fetch(w);
        QCOMPARE(w.statuses, (QStringList{"Fetching firmware manifest...", "Downloading firmware: halvard.bin",
                                          "Firmware ready: halvard.bin"}));
        QVERIFY(dialogs.seen().isEmpty());
        QCOMPARE(selected(w), QString("halvard.bin"));
        QVERIFY(startEnabled(w));
        const QString cached = updatetest::downloadsCacheDir() + "/halvard.bin";
        QVERIFY(server.requests().contains("/firmware/halvard.bin"));

        QByteArray changed = packages.c3;
        changed[100] = static_cast<char>(changed[100] ^ 0x5A);
        QVERIFY(updatetest::writeFile(cached, changed));
        w.bus.clear_host_frames();
        dialogs.pressButton("OK");
        w.widget<QPushButton>("pushButton_start_update")->click();
        QCOMPARE(dialogs.seen().size(), 1);
        const SeenDialog box = dialogs.seen().first();
        QCOMPARE(box.title, QString("Firmware Verification Failed"));
        QCOMPARE(box.icon, QMessageBox::Critical);
        QCOMPARE(box.text, "Firmware file SHA-256 does not match the manifest.\nExpected: " +
                               updatetest::sha256Hex(packages.c3) + "\nActual:   " + updatetest::sha256Hex(changed));
        QCOMPARE(w.status(), QString("Firmware file rejected (SHA-256 mismatch)"));
        QCOMPARE(selected(w), QString());
        QVERIFY(!startEnabled(w));
        QVERIFY(!w.widget<QWidget>("progressBar_firmware")->isEnabled());
        QVERIFY(w.hostFrames(0x730).empty());

        // Fetch again (the damaged cached copy is replaced), then publish a
        // digest the server's file does not have.
        fetch(w);
        QCOMPARE(w.status(), QString("Firmware ready: halvard.bin"));
        QVERIFY(server.putManifest({server.firmwareEntry("C3", "1.5.1", "halvard.bin", packages.c3,
                                                         updatetest::sha256Hex("something else"))}));
        dialogs.clear();
        dialogs.pressButton("OK");
        fetch(w);
        QCOMPARE(dialogs.titles(), QStringList{"Firmware Download Failed"});
        QVERIFY(dialogs.seen().first().text.startsWith("Firmware file SHA-256 does not match the manifest."));
        QCOMPARE(w.status(), QString("Firmware download failed"));
        QCOMPARE(selected(w), QString());
        QVERIFY(!startEnabled(w));
        QVERIFY(!QFileInfo::exists(cached));
        QVERIFY(buttonsEnabled(w));
    }

    // Only one unit counts: the addressed one when its identity is known,
    // else the first known one in registry order; a placeholder (identity not
    // yet known) is never used, or it would read as type FF.
    void unitChoice_data() {
        QTest::addColumn<quint32>("occupied");
        QTest::addColumn<quint32>("alive");
        QTest::addColumn<int>("addressed");
        QTest::addColumn<QString>("file");
        QTest::newRow("UID 1 addressed") << quint32(0x0E) << quint32(0x0E) << 1 << "halvard.bin";
        QTest::newRow("UID 3 addressed among three") << quint32(0x0E) << quint32(0x08) << 3 << "morrow.bin";
        QTest::newRow("addressed UID 4 unknown") << quint32(0x1E) << quint32(0x10) << 4 << "halvard.bin";
    }
    void unitChoice() {
        QFETCH(quint32, occupied);
        QFETCH(quint32, alive);
        QFETCH(int, addressed);
        QFETCH(QString, file);
        DownloadServer server;
        Packages packages;
        QVERIFY(packages.publish(server));
        SimulatedWindow w(3, updatetest::updateSettings(server.manifestUrl()));
        QVERIFY(ready(w, server));
        vk61::CommsManager* comms = w.window->commsManager();
        QCOMPARE(comms->device_snapshot().front().uid, std::uint8_t{1});
        w.bus.send_occupancy_report(occupied, alive);
        QTRY_COMPARE_WITH_TIMEOUT(int(comms->primary_uid()), addressed, 5000);
        const std::vector<vk61::DeviceInfo> units = comms->device_snapshot();
        const auto record =
            std::find_if(units.begin(), units.end(), [&](const vk61::DeviceInfo& d) { return d.uid == addressed; });
        QVERIFY(record != units.end());
        QCOMPARE(record->is_placeholder(), addressed == 4);
        DialogDriver dialogs;
        w.statuses.clear();
        fetch(w);
        QVERIFY(dialogs.seen().isEmpty());
        QVERIFY(w.statuses.contains("Downloading firmware: " + file));
        QCOMPARE(w.status(), "Firmware ready: " + file);
    }

    // No usable unit: the link is down.
    void noUnit_refusesToChoose() {
        DownloadServer server;
        Packages packages;
        QVERIFY(packages.publish(server));
        SimulatedWindow w(3, updatetest::updateSettings(server.manifestUrl()));
        QVERIFY(ready(w, server));
        DialogDriver dialogs;
        vhid::pull_cable();
        QTRY_VERIFY_WITH_TIMEOUT(!w.window->commsManager()->is_connected(), 5000);
        dialogs.pressButton("OK");
        fetch(w);
        QCOMPARE(dialogs.titles(), QStringList{"Device Not Connected"});
        QCOMPARE(dialogs.seen().first().text, QString("Connect to a device first so the correct firmware package can "
                                                      "be selected from the manifest."));
        QCOMPARE(w.status(), QString("Connect a device to fetch firmware"));
        QVERIFY(buttonsEnabled(w));
        vhid::plug_cable();
    }

    // The second entry's version is bad: the parse fails with its message,
    // and the first entry is still what files are checked against.
    void badSecondEntry_keepsTheFirst() {
        DownloadServer server;
        Packages packages;
        QJsonObject bad = server.firmwareEntry("D5", "2.x.0", "tessaly.bin", packages.d5);
        QVERIFY(server.putManifest({server.firmwareEntry("C3", "1.5.0", "halvard.bin", packages.c3), bad}));
        SimulatedWindow w(3, updatetest::updateSettings(server.manifestUrl()));
        QVERIFY(ready(w, server));
        DialogDriver dialogs;
        dialogs.pressButton("OK");
        fetch(w);
        QCOMPARE(dialogs.titles(), QStringList{"Manifest Parse Failed"});
        QCOMPARE(dialogs.seen().first().text, QString("Invalid firmware_version for device_type D5"));
        QCOMPARE(w.status(), QString("Could not parse firmware manifest"));
        QVERIFY(buttonsEnabled(w));
        QVERIFY(!startEnabled(w));

        QTemporaryDir local;
        const QString good = local.filePath("halvard.bin");
        const QString forged = files.filePath("halvard.bin");
        QVERIFY(updatetest::writeFile(good, packages.c3));
        QVERIFY(updatetest::writeFile(forged, packages.d5));
        dialogs.clear();
        dialogs.pressButton("OK");
        QVERIFY(browse(w.widget<QPushButton>("pushButton_browse"), dialogs, forged));
        QCOMPARE(dialogs.titles(), (QStringList{"Select Firmware File", "Firmware Verification Failed"}));
        QCOMPARE(dialogs.seen().last().title, QString("Firmware Verification Failed"));
        QVERIFY(!startEnabled(w));
        QVERIFY(browse(w.widget<QPushButton>("pushButton_browse"), dialogs, good));
        QCOMPARE(selected(w), QString("halvard.bin"));
        QVERIFY(startEnabled(w));
    }

    // The user starts the update while the manifest is being fetched: the
    // flow stops before it touches the package files the update reads, and
    // leaves its buttons to the update.
    void updateStartedDuringFetch_leavesFilesAlone() {
        DownloadServer server;
        Packages packages;
        QVERIFY(packages.publish(server));
        SimulatedWindow w(3, updatetest::updateSettings(server.manifestUrl()));
        QVERIFY(ready(w, server));
        DialogDriver dialogs;
        fetch(w);
        QCOMPARE(w.status(), QString("Firmware ready: halvard.bin"));
        const QString cached = updatetest::downloadsCacheDir() + "/halvard.bin";

        // The next manifest names another build under the same file name, so
        // resolving it would delete and download the cached file again.
        const QByteArray next = updatetest::firmwareImage(0x20000, 1200, 0x100, 50);
        QVERIFY(server.putManifest({server.firmwareEntry("C3", "1.5.1", "halvard.bin", next)}));
        w.bus.add_fault({sim::FaultKind::Drop, sim::ReplyKind::FlashReply, 0x430, 1, 0, 0});  // holds the erase
        server.onRequest = [&](const QString& path) {
            if (path == kManifestPath) w.widget<QPushButton>("pushButton_start_update")->click();
        };
        server.clearRequests();
        // The EFIS's package reaches the companion units too: the window asks.
        dialogs.pressButton("Yes");
        fetch(w);
        server.onRequest = nullptr;
        QVERIFY(w.statuses.contains("Preparing firmware update..."));
        QCOMPARE(w.status(), QString("Finish firmware update before fetching a new package"));
        QCOMPARE(server.requests(), QStringList{kManifestPath});
        QCOMPARE(QFile(cached).size(), qint64(packages.c3.size()));
        QVERIFY(!w.widget<QPushButton>("pushButton_fetch_fw")->isEnabled());
        QVERIFY(!w.widget<QPushButton>("pushButton_browse")->isEnabled());

        vhid::pull_cable();
        QTRY_COMPARE_WITH_TIMEOUT(w.status(), QString("Firmware update finished"), 10000);
        QVERIFY(buttonsEnabled(w));
        vhid::plug_cable();
        QCOMPARE(dialogs.titles(), QStringList{"Confirm Firmware Update"});
    }
};

VK61_UPDATE_TEST_MAIN(FetchFirmwareTest)
#include "test_fetch_firmware.moc"
