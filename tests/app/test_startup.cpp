// Start-up and shutdown of the window: the form as shown, the status texts of
// a connection attempt, the log of connect(), and the message handler's lines.
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTabWidget>
#include <QTest>
#include <QUrl>

#include <chrono>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include <csignal>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QFile>

#include "bridge.h"
#include "comms_manager.h"
#include "debug_log.h"
#include "installation.h"
#include "main_window.h"
#include "message_handler.h"
#include "virtual_hidapi_control.h"
#include "window_test_support.h"

namespace {

// Collects the engine's standard-output lines.
class LogLines {
public:
    LogLines() {
        vk61::set_debug_log_sink([this](const std::string& line) {
            std::lock_guard lock(mutex_);
            lines_.push_back(line);
        });
    }
    ~LogLines() { vk61::set_debug_log_sink({}); }
    std::vector<std::string> lines() const {
        std::lock_guard lock(mutex_);
        return lines_;
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
};

// Runs fn with standard error redirected into a temporary file and returns
// what was written.
template <typename Fn>
QByteArray captureStderr(Fn fn) {
    std::fflush(stderr);
    char path[] = "/tmp/vk61-stderr-XXXXXX";
    const int fd = mkstemp(path);
    const int saved = dup(2);
    dup2(fd, 2);
    fn();
    std::fflush(stderr);
    dup2(saved, 2);
    close(saved);
    QFile file(QString::fromLatin1(path));
    file.open(QIODevice::ReadOnly);
    const QByteArray text = file.readAll();
    close(fd);
    unlink(path);
    return text;
}

}  // namespace

class StartupTest : public QObject {
    Q_OBJECT

private slots:
    void noBridge_showsFormAndFailureTexts() {
        vhid::attach_bridge(nullptr);
        vhid::set_interfaces({});  // nothing on the USB bus
        LogLines log;

        QStringList statuses;
        auto window = std::make_unique<vk61::MainWindow>(windowtest::offTheNetwork());
        statuses << window->statusBar()->currentMessage();
        connect(window->statusBar(), &QStatusBar::messageChanged, this,
                [&statuses](const QString& text) { statuses << text; });
        window->show();

        const QString failure = "Failed to connect to EFIS via USB or CAN FD - please check connections";
        QTRY_VERIFY_WITH_TIMEOUT(statuses.contains(failure), 5000);
        QCOMPARE(statuses, (QStringList{"Initializing...", "Connecting...", failure}));

        const std::vector<std::string> expected = {
            "Attempting to connect to USB HID device 0x16D0:0x14C7\n",
            "Failed to connect to USB HID\n",
            "USB HID unavailable, attempting CAN FD interface: can0\n",
            "Failed to connect to CAN FD\n",
            "Failed to connect via USB HID or CAN FD\n",
        };
        QCOMPARE(log.lines(), expected);

        auto* tabs = window->findChild<QTabWidget*>("tabWidget");
        QVERIFY(tabs);
        QCOMPARE(tabs->count(), 4);
        QVERIFY(!tabs->isTabVisible(tabs->indexOf(window->findChild<QWidget*>("tab_cal"))));
        for (const char* name :
             {"label_manual_setting_index", "lineEdit_manual_setting_index", "label_manual_setting_value",
              "lineEdit_manual_setting_value", "pushButton_read_setting"}) {
            auto* widget = window->findChild<QWidget*>(name);
            QVERIFY2(widget, name);
            QVERIFY2(widget->isHidden(), name);
        }
        for (const char* name :
             {"text_firmware_file", "pushButton_start_update", "progressBar_firmware", "pushButton_save_devices",
              "text_firmware_file_2", "pushButton_start_airport", "progressBar_airports"}) {
            auto* widget = window->findChild<QWidget*>(name);
            QVERIFY2(widget, name);
            QVERIFY2(!widget->isEnabled(), name);
        }
        QCOMPARE(window->windowTitle(), QString("VK61 EFIS Config"));
    }

    // With the simulated installation attached, the window connects, and
    // closing it stops the link and the receive thread at once.
    void connected_closeStopsLinkQuickly() {
        sim::Installation bus;
        for (std::uint8_t uid = 1; uid <= 3; ++uid) {
            sim::UnitSpec unit_spec;
            unit_spec.uid = uid;
            unit_spec.device_id = 0xC3010000u + uid;
            bus.add_unit(unit_spec);
        }
        sim::Bridge bridge(bus);
        vhid::attach_bridge(&bridge);

        auto window = std::make_unique<vk61::MainWindow>(windowtest::offTheNetwork());
        window->show();
        QTRY_VERIFY_WITH_TIMEOUT(window->commsManager() && window->commsManager()->is_connected(), 5000);
        QTRY_COMPARE_WITH_TIMEOUT(window->commsManager()->device_snapshot().size(), std::size_t{3}, 5000);
        QCOMPARE(window->statusBar()->currentMessage(), QString("Connected via USB HID"));

        window->close();
        QVERIFY(!window->commsManager()->is_connected());
        window.reset();
        vhid::attach_bridge(nullptr);
    }

    void messageHandler_writesOneLinePerMessage() {
        vk61::installMessageHandler();
        const QByteArray text = captureStderr([] {
            QMessageLogContext none;
            vk61::writeMessage(QtDebugMsg, none, "plain");
            QMessageLogContext context("file.cpp", 42, "void f()", "default");
            vk61::writeMessage(QtInfoMsg, context, "info");
            vk61::writeMessage(QtWarningMsg, context, "warn");
            vk61::writeMessage(QtCriticalMsg, context, "crit");
        });
        QCOMPARE(text, QByteArray("Debug: plain (:0, )\n"
                                  "Info: info (file.cpp:42, void f())\n"
                                  "Warning: warn (file.cpp:42, void f())\n"
                                  "Critical: crit (file.cpp:42, void f())\n"));
    }

    void messageHandler_fatalAborts() {
        const pid_t child = fork();
        if (child == 0) {
            const int null = ::open("/dev/null", O_WRONLY);
            dup2(null, 2);
            QMessageLogContext none;
            vk61::writeMessage(QtFatalMsg, none, "fatal");
            _exit(0);  // not reached when the handler aborts
        }
        int status = 0;
        waitpid(child, &status, 0);
        QVERIFY(WIFSIGNALED(status));
        QCOMPARE(WTERMSIG(status), SIGABRT);
    }
};

QTEST_MAIN(StartupTest)
#include "test_startup.moc"
