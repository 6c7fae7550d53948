// Closing and destroying the window while a transfer waits on the units: the
// disconnect fails the worker's wait, the window goes without waiting out the
// transfer's time-outs, and neither the worker thread, its thread object nor
// the receive thread outlives it.
#include <QElapsedTimer>
#include <QPushButton>
#include <QTemporaryDir>

#include <mutex>
#include <set>

#include "update_test_support.h"

using updatetest::browse;
using updatetest::DialogDriver;

namespace {

// Like windowtest::SimulatedWindow, but the test destroys the window itself.
struct Installation {
    Installation() {
        sim::add_default_units(bus, 3);
        vhid::attach_bridge(&bridge);
        window = std::make_unique<vk61::MainWindow>(updatetest::updateSettings());
        diagnostics.install();
        window->show();
    }
    ~Installation() {
        if (window) window->close();
        window.reset();
        vhid::attach_bridge(nullptr);
    }
    template <typename T>
    T* widget(const char* name) const {
        return window->findChild<T*>(QString::fromLatin1(name));
    }
    bool sentErase() const {
        for (const sim::HostFrame& f : bus.host_frames()) {
            if ((f.frame.identifier() & 0x7F0u) == 0x430) return true;
        }
        return false;
    }

    sim::Installation bus;
    sim::Bridge bridge{bus};
    windowtest::Diagnostics diagnostics;
    std::unique_ptr<vk61::MainWindow> window;
};

}  // namespace

class UpdateCloseTest : public QObject {
    Q_OBJECT

    QTemporaryDir files;

private slots:
    void closeDuringTransfer_data() {
        QTest::addColumn<bool>("firmware");
        QTest::addColumn<QString>("failureLine");
        QTest::newRow("firmware update") << true << "erase_fw_update_blocks: failed";
        QTest::newRow("airport transfer") << false << "airport_upload: stopped for every unit";
    }
    void closeDuringTransfer() {
        QFETCH(bool, firmware);
        QFETCH(QString, failureLine);
        auto w = std::make_unique<Installation>();
        QTRY_VERIFY_WITH_TIMEOUT(
            w->window->commsManager() && w->window->commsManager()->device_snapshot().size() == 3 &&
                w->window->statusBar()->currentMessage() == "Configuration successfully loaded from device",
            10000);
        DialogDriver dialogs;
        const QString path = files.filePath(firmware ? "app.bin" : "airports.db");
        QVERIFY(updatetest::writeFile(
            path, firmware ? updatetest::firmwareImage(0x20000, 2000, 0x100) : updatetest::nonZeroBytes(5000, 2)));
        QVERIFY(browse(w->widget<QPushButton>(firmware ? "pushButton_browse" : "pushButton_browse_airports"), dialogs,
                       path));

        // Every thread that sends a frame to the bus: the worker, and the
        // receive thread when it sends the next erase command.
        std::mutex mutex;
        std::set<long> senders;
        w->bus.set_frame_observer([&](const vk61::BusFrame&) {
            std::lock_guard lock(mutex);
            senders.insert(updatetest::currentTid());
        });
        // UID 1 never reports an erased block: the transfer waits in its erase
        // run (up to 120 s) until something ends it.
        w->bus.add_fault({sim::FaultKind::Drop, sim::ReplyKind::FlashReply, 0x430, 1, 0, 0});
        w->bus.clear_host_frames();
        w->widget<QPushButton>(firmware ? "pushButton_start_update" : "pushButton_start_airport")->click();
        QVERIFY(QTest::qWaitFor([&] { return w->sentErase(); }, 10000));
        QPointer<QThread> worker = w->window->findChild<QThread*>();
        QVERIFY(worker);
        QVERIFY(worker->isRunning());

        QElapsedTimer clock;
        clock.start();
        w->window->close();
        w->window.reset();
        const qint64 close_ms = clock.elapsed();
        qInfo("close and destroy during the %s: %lld ms", firmware ? "update" : "transfer", close_ms);

        QVERIFY(worker.isNull());  // the thread object went with the window
        const std::vector<std::string> lines = w->diagnostics.logLines();
        QVERIFY(!w->diagnostics.logLinesStartingWith(failureLine.toStdString()).empty());
        // The erase wait ended on the disconnecting flag, not its time-out.
        QVERIFY(!w->diagnostics.logLinesStartingWith("fw_erase: failed (complete=1").empty());
        QVERIFY(w->diagnostics.messagesStartingWith("Firmware worker still running").isEmpty());
        QVERIFY(w->diagnostics.messagesStartingWith("Airport worker still running").isEmpty());
        w->bus.set_frame_observer({});
        const long self = updatetest::currentTid();
        std::set<long> others;
        {
            std::lock_guard lock(mutex);
            for (long tid : senders) {
                if (tid != self) others.insert(tid);
            }
        }
        QVERIFY(!others.empty());
        QTRY_VERIFY_WITH_TIMEOUT(std::none_of(others.begin(), others.end(), updatetest::threadExists), 2000);
        w.reset();
    }
};

VK61_UPDATE_TEST_MAIN(UpdateCloseTest)
#include "test_update_close.moc"
