// "Fetch Latest APT db" and the manifest prefetch at launch, against a
// download server on loopback: the newest airport database online, then
// offline from the memory copy, the cache file and a local copy; the failure
// boxes, which keep an earlier choice; a transfer started while a fetch waits.
#include <QPushButton>
#include <QTemporaryDir>
#include <QTextEdit>

#include "update_test_support.h"

using updatetest::browse;
using updatetest::DialogDriver;
using updatetest::DownloadServer;
using windowtest::SimulatedWindow;

namespace {

const QString kManifestPath = "/firmware/downloads_manifest.json";

QString appDir() { return QDir::homePath() + "/app"; }  // see updatetest::run

}  // namespace

class FetchAirportTest : public QObject {
    Q_OBJECT

    QTemporaryDir files;

    template <typename Window>
    static QString selected(Window* window) {
        return window->template findChild<QTextEdit*>("text_firmware_file_2")->toPlainText();
    }
    template <typename Window>
    static bool controlsEnabled(Window* window) {
        for (const char* name : {"pushButton_fetch_apt_db", "pushButton_browse_airports", "pushButton_start_airport",
                                 "text_firmware_file_2", "progressBar_airports"}) {
            if (!window->template findChild<QWidget*>(name)->isEnabled()) return false;
        }
        return true;
    }

private slots:
    void init() {
        updatetest::resetDownloads();
        QDir(appDir()).removeRecursively();
    }

    void prefetchAtLaunch_thenOfflineFromEveryCopy() {
        DownloadServer server;
        const QByteArray older = updatetest::nonZeroBytes(3000, 1);
        const QByteArray newest = updatetest::nonZeroBytes(5000, 2);
        QVERIFY(server.putManifest({server.firmwareEntry("C3", "1.5.0", "halvard.bin", "x")},
                                   {server.databaseEntry("airports_2026-11.db", "2026-11-27", newest),
                                    server.databaseEntry("airports_2026-10.db", "2026-10-30", older)}));
        vhid::attach_bridge(nullptr);
        vhid::set_interfaces({});  // no units: the fetch of a database needs none

        auto window = std::make_unique<vk61::MainWindow>(updatetest::updateSettings(server.manifestUrl()));
        // The window fetches the manifest at launch, beside it, and keeps a
        // copy on disk.
        QTRY_COMPARE_WITH_TIMEOUT(server.requests().value(0), kManifestPath, 5000);
        QTRY_VERIFY_WITH_TIMEOUT(!window->manifestService().memory_copy().isEmpty(), 5000);
        QFile cache(updatetest::downloadsCacheDir() + "/downloads_manifest.json");
        QFile served(server.path("firmware/downloads_manifest.json"));
        QVERIFY(cache.open(QIODevice::ReadOnly) && served.open(QIODevice::ReadOnly));
        QCOMPARE(cache.readAll(), served.readAll());
        window->show();
        const QString noLink = "Failed to connect to EFIS via USB or CAN FD - please check connections";
        QTRY_COMPARE_WITH_TIMEOUT(window->statusBar()->currentMessage(), noLink, 5000);
        DialogDriver dialogs;
        QStringList statuses;
        connect(window->statusBar(), &QStatusBar::messageChanged, this, [&](const QString& s) { statuses << s; });
        auto* fetch = window->findChild<QPushButton*>("pushButton_fetch_apt_db");
        const QString ready = "Airport database ready: airports_2026-11.db";

        statuses.clear();
        QVERIFY(updatetest::clickAndWaitForFetch(window.get(), fetch));
        QCOMPARE(statuses, (QStringList{"Fetching airport database manifest...",
                                        "Downloading airport database: Airports 2026-11-27", ready}));
        QCOMPARE(selected(window.get()), QString("airports_2026-11.db"));
        QVERIFY(controlsEnabled(window.get()));
        QVERIFY(server.requests().contains("/databases/airports_2026-11.db"));

        // Offline from here on.
        server.close();
        struct Step {
            const char* what;
            std::function<void()> prepare;
            QString title;   // of the failure box, empty when none
            QString status;  // the last status
        };
        const QString cachedDb = updatetest::downloadsCacheDir() + "/airports_2026-11.db";
        const Step steps[] = {
            {"memory copy", [] {}, "", ready},
            {"cache file", [&] { window->manifestService().forget_memory_copy(); }, "", ready},
            {"database not cached", [&] { QFile::remove(cachedDb); }, "Airport Database Download Failed",
             "Airport database download failed"},
            {"nothing anywhere",
             [&] {
                 QDir(updatetest::downloadsCacheDir()).removeRecursively();
                 window->manifestService().forget_memory_copy();
             },
             "Manifest Unavailable", "Could not load downloads manifest"},
        };
        for (const Step& step : steps) {
            step.prepare();
            dialogs.clear();
            if (!step.title.isEmpty()) dialogs.pressButton("OK");
            QVERIFY(updatetest::clickAndWaitForFetch(window.get(), fetch));
            QVERIFY2(dialogs.titles() == (step.title.isEmpty() ? QStringList{} : QStringList{step.title}), step.what);
            if (!step.title.isEmpty()) {
                QVERIFY2(dialogs.seen().first().text.startsWith("Network error fetching "), step.what);
            }
            QCOMPARE(window->statusBar()->currentMessage(), step.status);
            // A failure leaves the earlier choice as it was.
            QCOMPARE(selected(window.get()), QString("airports_2026-11.db"));
            QVERIFY2(controlsEnabled(window.get()), step.what);
        }

        // A manifest beside the application whose entry has no URL: the file
        // in the local folder is used once its digest matched.
        const QByteArray local = updatetest::nonZeroBytes(700, 3);
        QVERIFY(updatetest::writeFile(appDir() + "/firmware/local_airports.db", local));
        QVERIFY(updatetest::writeFile(
            appDir() + "/firmware/downloads_manifest.json",
            QJsonDocument(
                QJsonObject{{"database_files", QJsonArray{QJsonObject{{"db_type", "airport"},
                                                                      {"cycle_effective_date", "2026-12-01"},
                                                                      {"sha256", updatetest::sha256Hex(local)},
                                                                      {"database_file", "local_airports.db"}}}}})
                .toJson()));
        dialogs.clear();
        QVERIFY(updatetest::clickAndWaitForFetch(window.get(), fetch));
        QVERIFY(dialogs.seen().isEmpty());
        QCOMPARE(window->statusBar()->currentMessage(), QString("Airport database ready: local_airports.db"));
        QCOMPARE(selected(window.get()), QString("local_airports.db"));
        window->close();
    }

    void manifestWithoutAirportDatabase_data() {
        QTest::addColumn<QJsonArray>("databases");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("status");
        QTest::newRow("no database_files") << QJsonArray{} << "Manifest Parse Failed"
                                           << "database_files is empty"
                                           << "Could not parse database manifest";
        QTest::newRow("only terrain") << QJsonArray{QJsonObject{{"db_type", "terrain"},
                                                                {"database_file", "t.db"},
                                                                {"cycle_effective_date", "2026-11-27"},
                                                                {"sha256", QString(64, 'a')}}}
                                      << "Airport Database Not Found"
                                      << "No airport database entry found in downloads_manifest.json."
                                      << "No airport database in manifest";
    }
    void manifestWithoutAirportDatabase() {
        QFETCH(QJsonArray, databases);
        QFETCH(QString, title);
        QFETCH(QString, text);
        QFETCH(QString, status);
        DownloadServer server;
        QVERIFY(server.putManifest({server.firmwareEntry("C3", "1.5.0", "halvard.bin", "x")}, databases));
        vhid::attach_bridge(nullptr);
        vhid::set_interfaces({});
        auto window = std::make_unique<vk61::MainWindow>(updatetest::updateSettings(server.manifestUrl()));
        window->show();
        QTRY_VERIFY_WITH_TIMEOUT(window->statusBar()->currentMessage().startsWith("Failed to connect"), 5000);
        DialogDriver dialogs;
        dialogs.pressButton("OK");
        QVERIFY(
            updatetest::clickAndWaitForFetch(window.get(), window->findChild<QPushButton*>("pushButton_fetch_apt_db")));
        QCOMPARE(dialogs.titles(), QStringList{title});
        QCOMPARE(dialogs.seen().first().text, text);
        QCOMPARE(dialogs.seen().first().icon, QMessageBox::Warning);
        QCOMPARE(window->statusBar()->currentMessage(), status);
        QVERIFY(window->findChild<QPushButton*>("pushButton_fetch_apt_db")->isEnabled());
        QVERIFY(window->findChild<QPushButton*>("pushButton_browse_airports")->isEnabled());
        QVERIFY(!window->findChild<QPushButton*>("pushButton_start_airport")->isEnabled());
        window->close();
    }

    // The user starts the transfer while the manifest is being fetched: the
    // flow stops before it resolves the package (which may rewrite the file
    // the transfer reads once per unit) and leaves its buttons to the
    // transfer until it ends.
    void transferStartedDuringFetch_leavesFilesAlone() {
        DownloadServer server;
        QVERIFY(server.putManifest(
            {}, {server.databaseEntry("airports.db", "2026-11-27", updatetest::nonZeroBytes(4000, 5))}));
        SimulatedWindow w(3, updatetest::updateSettings(server.manifestUrl()));
        QVERIFY(w.waitForInitialLoad());
        DialogDriver dialogs;
        const QString chosen = files.filePath("airports.db");
        QVERIFY(updatetest::writeFile(chosen, updatetest::nonZeroBytes(2000, 6)));
        QVERIFY(browse(w.widget<QPushButton>("pushButton_browse_airports"), dialogs, chosen));
        w.bus.add_fault({sim::FaultKind::Drop, sim::ReplyKind::FlashReply, 0x430, 1, 0, 0});  // holds the erase
        server.onRequest = [&](const QString& path) {
            if (path == kManifestPath) w.widget<QPushButton>("pushButton_start_airport")->click();
        };
        server.clearRequests();
        w.statuses.clear();
        QVERIFY(updatetest::clickAndWaitForFetch(w.window.get(), w.widget<QPushButton>("pushButton_fetch_apt_db")));
        server.onRequest = nullptr;
        QTRY_VERIFY(w.statuses.contains("Starting airport database transfer to 3 device(s)..."));
        QVERIFY(w.statuses.contains("Finish airport transfer before fetching a new database"));
        QCOMPARE(server.requests(), QStringList{kManifestPath});
        QCOMPARE(selected(w.window.get()), QString("airports.db"));
        QVERIFY(!w.widget<QPushButton>("pushButton_fetch_apt_db")->isEnabled());
        QVERIFY(!w.widget<QPushButton>("pushButton_browse_airports")->isEnabled());

        vhid::pull_cable();
        QTRY_COMPARE_WITH_TIMEOUT(w.status(),
                                  QString("Airport database transfer failed: No unit holds the new airport database "
                                          "(erase failed on UID 1: link lost)"),
                                  10000);
        QVERIFY(controlsEnabled(w.window.get()));
        vhid::plug_cable();
        QCOMPARE(dialogs.seen().size(), 1);  // the file dialog only
    }
};

VK61_UPDATE_TEST_MAIN(FetchAirportTest)
#include "test_fetch_airport.moc"
