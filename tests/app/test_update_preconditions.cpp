// What the start and fetch buttons of the update tab refuse, and in which
// order they check: connection, file, the transfer of the same kind, the other
// transfer. A running transfer is held in its erase step by a unit whose erase
// replies never come, and ended by pulling the cable.
#include <QPushButton>
#include <QTemporaryDir>
#include <QTextEdit>

#include "update_test_support.h"

using updatetest::browse;
using updatetest::DialogDriver;
using updatetest::invokeSlot;
using windowtest::SimulatedWindow;

class UpdatePreconditionsTest : public QObject {
    Q_OBJECT

    QTemporaryDir files;
    QString firmware;
    QString database;

    // Waits until the worker sent its first erase command, so it sits in the
    // erase wait that the dropped replies keep open.
    static bool waitForHeldErase(SimulatedWindow& w) {
        return QTest::qWaitFor([&] { return !w.hostFrames(0x430).empty(); }, 10000);
    }
    // Pulls the cable (every wait of the transfer fails at once), waits for
    // the window to report the end, plugs it back and waits for the units.
    static bool endByCablePull(SimulatedWindow& w, const QString& final_status) {
        w.statuses.clear();
        vhid::pull_cable();
        const bool ended = QTest::qWaitFor([&] { return w.statuses.contains(final_status); }, 10000);
        vhid::plug_cable();
        return ended && QTest::qWaitFor(
                            [&] {
                                return w.statuses.contains("Device reconnected") && w.window->commsManager() &&
                                       w.window->commsManager()->is_connected();
                            },
                            10000);
    }

private slots:
    void initTestCase() {
        firmware = files.filePath("app.bin");
        database = files.filePath("airports.db");
        QVERIFY(updatetest::writeFile(firmware, updatetest::firmwareImage(0x20000, 2000, 0x100)));
        QVERIFY(updatetest::writeFile(database, updatetest::nonZeroBytes(2000, 3)));
    }

    // Without a connection: the firmware start names the connection first,
    // with or without a file; the airport start names the missing file first.
    void noConnection_checkOrderOfBothStarts() {
        vhid::attach_bridge(nullptr);
        vhid::set_interfaces({});
        auto window = std::make_unique<vk61::MainWindow>(updatetest::updateSettings());
        windowtest::Diagnostics diagnostics;
        diagnostics.install();
        window->show();
        QTRY_COMPARE_WITH_TIMEOUT(window->statusBar()->currentMessage(),
                                  QString("Failed to connect to EFIS via USB or CAN FD - please check connections"),
                                  5000);
        DialogDriver dialogs;
        auto status = [&] { return window->statusBar()->currentMessage(); };
        auto* startUpdate = window->findChild<QPushButton*>("pushButton_start_update");
        auto* startAirport = window->findChild<QPushButton*>("pushButton_start_airport");

        invokeSlot(window.get(), "onStartUpdateClicked");  // no file: the button is disabled
        QCOMPARE(status(), QString("No communication interface connected"));
        QVERIFY(browse(window->findChild<QPushButton*>("pushButton_browse"), dialogs, firmware));
        QVERIFY(startUpdate->isEnabled());
        startUpdate->click();
        QCOMPARE(status(), QString("No communication interface connected"));
        QCOMPARE(diagnostics.messagesStartingWith("Firmware update failed: not connected").size(), 2);
        QVERIFY(startUpdate->isEnabled());  // nothing else changed
        QVERIFY(window->findChild<QThread*>() == nullptr);

        invokeSlot(window.get(), "onStartAirportClicked");
        QCOMPARE(status(), QString("No airport database file selected"));
        QVERIFY(browse(window->findChild<QPushButton*>("pushButton_browse_airports"), dialogs, database));
        startAirport->click();
        QCOMPARE(status(), QString("Device not connected. Please connect to device first."));
        QCOMPARE(diagnostics.messagesStartingWith("Airport upload failed: CommsManager not connected").size(), 1);
        QVERIFY(startAirport->isEnabled());
        QVERIFY(dialogs.unanswered() == 0 && dialogs.seen().size() == 2);
        window->close();
    }

    // Connected: no firmware file; no units for the airport transfer; a
    // chosen file gone from the disk when the update is started.
    void connected_fileAndUnitChecks() {
        {
            SimulatedWindow w(1, updatetest::updateSettings());
            QVERIFY(w.bus.remove_unit(1));
            QTRY_VERIFY_WITH_TIMEOUT(w.window->commsManager() && w.window->commsManager()->is_connected(), 5000);
            DialogDriver dialogs;
            invokeSlot(w.window.get(), "onStartUpdateClicked");
            QCOMPARE(w.status(), QString("No firmware file selected"));
            QVERIFY(browse(w.widget<QPushButton>("pushButton_browse_airports"), dialogs, database));
            w.widget<QPushButton>("pushButton_start_airport")->click();
            QCOMPARE(w.status(), QString("No devices discovered for airport database update"));
            QVERIFY(w.widget<QPushButton>("pushButton_start_airport")->isEnabled());
        }
        SimulatedWindow w(2, updatetest::updateSettings());
        QVERIFY(w.waitForInitialLoad());
        DialogDriver dialogs;
        const QString doomed = files.filePath("doomed.bin");
        QVERIFY(updatetest::writeFile(doomed, updatetest::firmwareImage(0x20000, 2000, 0x100)));
        QVERIFY(browse(w.widget<QPushButton>("pushButton_browse"), dialogs, doomed));
        QVERIFY(QFile::remove(doomed));
        w.bus.clear_host_frames();
        dialogs.pressButton("OK");
        w.widget<QPushButton>("pushButton_start_update")->click();
        QCOMPARE(dialogs.seen().last().title, QString("Firmware File Missing"));
        QCOMPARE(dialogs.seen().last().text, "Firmware file was not found:\n" + doomed);
        QCOMPARE(w.widget<QTextEdit>("text_firmware_file")->toPlainText(), QString());
        QVERIFY(!w.widget<QPushButton>("pushButton_start_update")->isEnabled());
        QVERIFY(w.hostFrames(0x730).empty());
        QVERIFY(w.window->findChild<QThread*>() == nullptr);
    }

    // The two transfers keep each other out asymmetrically, each refuses a
    // second start of its own kind, and each fetch refuses while its own
    // transfer runs.
    void runningTransfers_refuseWhatTheyMust() {
        SimulatedWindow w(3, updatetest::updateSettings());
        QVERIFY(w.waitForInitialLoad());
        DialogDriver dialogs;
        QVERIFY(browse(w.widget<QPushButton>("pushButton_browse"), dialogs, firmware));
        QVERIFY(browse(w.widget<QPushButton>("pushButton_browse_airports"), dialogs, database));
        w.bus.add_fault({sim::FaultKind::Drop, sim::ReplyKind::FlashReply, 0x430, 1, 0, 0});
        auto* startUpdate = w.widget<QPushButton>("pushButton_start_update");
        auto* startAirport = w.widget<QPushButton>("pushButton_start_airport");

        w.bus.clear_host_frames();
        startUpdate->click();
        QVERIFY(waitForHeldErase(w));
        startAirport->click();
        QCOMPARE(w.status(), QString("Finish firmware update before airport transfer"));
        invokeSlot(w.window.get(), "onStartUpdateClicked");
        QCOMPARE(w.status(), QString("Firmware update already in progress"));
        QVERIFY(!w.widget<QPushButton>("pushButton_fetch_fw")->isEnabled());
        invokeSlot(w.window.get(), "onFetchFwClicked");
        QCOMPARE(w.status(), QString("Finish firmware update before fetching a new package"));
        QVERIFY(!w.widget<QPushButton>("pushButton_fetch_fw")->isEnabled());
        QVERIFY(!w.widget<QPushButton>("pushButton_browse")->isEnabled());
        QVERIFY(endByCablePull(w, "Firmware update finished"));

        // Once the update's thread has finished the same click starts the
        // airport transfer.
        w.bus.clear_host_frames();
        w.statuses.clear();
        startAirport->click();
        QTRY_COMPARE(w.statuses.value(0), QString("Starting airport database transfer to 3 device(s)..."));
        QVERIFY(waitForHeldErase(w));
        startUpdate->click();
        QCOMPARE(w.status(), QString("Finish airport transfer before firmware update"));
        QVERIFY(w.hostFrames(0x730).empty());
        invokeSlot(w.window.get(), "onStartAirportClicked");
        QCOMPARE(w.status(), QString("Airport transfer already in progress"));
        QVERIFY(!w.widget<QPushButton>("pushButton_fetch_apt_db")->isEnabled());
        invokeSlot(w.window.get(), "onFetchAptDbClicked");
        QCOMPARE(w.status(), QString("Finish airport transfer before fetching a new database"));
        QVERIFY(!w.widget<QPushButton>("pushButton_fetch_apt_db")->isEnabled());
        QVERIFY(endByCablePull(w, "Airport database transfer failed on UID 1 (0 / 3 succeeded)"));
        QVERIFY(startAirport->isEnabled());
        QVERIFY(w.widget<QPushButton>("pushButton_fetch_apt_db")->isEnabled());
        QVERIFY(dialogs.seen().size() == 2);  // the two file dialogs, no other box
    }
};

VK61_UPDATE_TEST_MAIN(UpdatePreconditionsTest)
#include "test_update_preconditions.moc"
