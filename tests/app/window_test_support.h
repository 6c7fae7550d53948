// Shared set-up of the window tests: a vk61::MainWindow on the offscreen platform
// against the in-process simulated installation, the status texts it shows,
// and the two diagnostic streams (Qt messages and the engine's lines).
//
// Everything here runs on the GUI thread except the debug_log sink, which
// runs on whichever thread writes the line (guarded by its own mutex).
#pragma once

#include <QAbstractSlider>
#include <QApplication>
#include <QColorDialog>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QList>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QStatusBar>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "bridge.h"
#include "comms_manager.h"
#include "config_image.h"
#include "debug_log.h"
#include "default_config.h"
#include "default_installation.h"
#include "installation.h"
#include "main_window.h"
#include "window_settings.h"
#include "virtual_hidapi_control.h"

namespace windowtest {

// The product's settings, except that no test reaches the network: the
// manifest of every window comes from a closed port.
inline vk61::WindowSettings offTheNetwork() {
    vk61::WindowSettings settings;
    settings.downloads.manifest_url = QUrl("http://127.0.0.1:1/firmware/downloads_manifest.json");
    return settings;
}

// Qt messages (debug, warning, ...) as their text, chained in front of the
// handler the window installed, and the engine's standard-output lines.
// One instance at a time; install() after the window exists, since its
// constructor installs its own handler.
class Diagnostics {
public:
    Diagnostics() {
        vk61::set_debug_log_sink([this](const std::string& line) {
            std::lock_guard lock(mutex_);
            log_lines_.push_back(line);
        });
    }
    ~Diagnostics() {
        vk61::set_debug_log_sink({});
        if (installed_) qInstallMessageHandler(previous_);
        current_ = nullptr;
    }
    Diagnostics(const Diagnostics&) = delete;
    Diagnostics& operator=(const Diagnostics&) = delete;

    void install() {
        current_ = this;
        previous_ = qInstallMessageHandler(&Diagnostics::handle);
        installed_ = true;
    }
    void clear() {
        std::lock_guard lock(mutex_);
        messages_.clear();
        log_lines_.clear();
    }
    QStringList messages() const {
        std::lock_guard lock(mutex_);
        return messages_;
    }
    std::vector<std::string> logLines() const {
        std::lock_guard lock(mutex_);
        return log_lines_;
    }
    // The engine lines that start with prefix, in order.
    std::vector<std::string> logLinesStartingWith(const std::string& prefix) const {
        std::vector<std::string> out;
        for (const std::string& line : logLines()) {
            if (line.rfind(prefix, 0) == 0) out.push_back(line);
        }
        return out;
    }
    QStringList messagesStartingWith(const QString& prefix) const {
        QStringList out;
        for (const QString& message : messages()) {
            if (message.startsWith(prefix)) out << message;
        }
        return out;
    }

private:
    static void handle(QtMsgType type, const QMessageLogContext& context, const QString& text) {
        if (Diagnostics* self = current_) {
            std::lock_guard lock(self->mutex_);
            self->messages_ << text;
        }
        if (previous_) previous_(type, context, text);
    }

    static inline Diagnostics* current_ = nullptr;
    static inline QtMessageHandler previous_ = nullptr;
    bool installed_ = false;
    mutable std::mutex mutex_;
    QStringList messages_;                // guarded by mutex_
    std::vector<std::string> log_lines_;  // guarded by mutex_
};

// Answers the next colour dialog that opens: picks `colour` and presses OK,
// or cancels when colour is invalid. Reports what the dialog showed.
struct DialogAnswer {
    QString title;
    QColor initial;
    bool seen = false;
};

inline void answerNextColourDialog(DialogAnswer* answer, const QColor& colour) {
    auto* poll = new QTimer(qApp);
    QObject::connect(poll, &QTimer::timeout, poll, [poll, answer, colour] {
        for (QWidget* top : QApplication::topLevelWidgets()) {
            auto* dialog = qobject_cast<QColorDialog*>(top);
            if (dialog == nullptr || !dialog->isVisible()) continue;
            answer->seen = true;
            answer->title = dialog->windowTitle();
            answer->initial = dialog->currentColor();
            if (colour.isValid()) {
                dialog->setCurrentColor(colour);
                dialog->accept();
            } else {
                dialog->reject();
            }
            poll->deleteLater();
            return;
        }
    });
    poll->start(10);
}

// Presses button in the next message box named name that opens; *seen
// tells whether one did.
inline void answerNextMessageBox(const QString& name, QMessageBox::StandardButton button, bool* seen) {
    auto* poll = new QTimer(qApp);
    QObject::connect(poll, &QTimer::timeout, poll, [poll, name, button, seen] {
        for (QWidget* top : QApplication::topLevelWidgets()) {
            auto* box = qobject_cast<QMessageBox*>(top);
            if (box == nullptr || !box->isVisible() || box->objectName() != name) continue;
            *seen = true;
            box->button(button)->click();
            poll->deleteLater();
            return;
        }
    });
    poll->start(10);
}

// Chooses colour in the colour dialog of a colour button.
inline void chooseColour(QPushButton* button, const QColor& colour) {
    DialogAnswer answer;
    answerNextColourDialog(&answer, colour);
    button->click();
}

// Every settings widget as "name=value", for comparing what the form shows.
inline QStringList settingsFormSnapshot(const QWidget& window) {
    QStringList out;
    const QWidget* tab = window.findChild<QWidget*>(QStringLiteral("tab_settings"));
    if (tab == nullptr) return out;
    for (const QWidget* w : tab->findChildren<QWidget*>()) {
        const QString name = w->objectName();
        if (name.isEmpty() || name.startsWith(QStringLiteral("qt_"))) continue;  // parts of other widgets
        if (auto* b = qobject_cast<const QSpinBox*>(w))
            out << name + "=" + QString::number(b->value());
        else if (auto* d = qobject_cast<const QDoubleSpinBox*>(w))
            out << name + "=" + QString::number(d->value(), 'f', 1);
        else if (auto* c = qobject_cast<const QComboBox*>(w))
            out << name + "=" + QString::number(c->currentIndex());
        else if (auto* t = qobject_cast<const QPlainTextEdit*>(w))
            out << name + "=" + t->toPlainText();
        else if (auto* r = qobject_cast<const QRadioButton*>(w))
            out << name + "=" + QString::number(r->isChecked());
        else if (auto* s = qobject_cast<const QAbstractSlider*>(w))
            out << name + "=" + QString::number(s->value());
        else if (auto* p = qobject_cast<const QPushButton*>(w); p && name.startsWith("color_picker"))
            out << name + "=" + p->styleSheet();
    }
    out.sort();
    return out;
}

// Puts every unit of the installation back to the factory configuration,
// in RAM and in EEPROM.
inline void restoreFactoryConfiguration(sim::Installation& bus) {
    const sim::ConfigImage image = sim::default_config_image();
    for (std::uint8_t uid : bus.unit_uids()) {
        for (unsigned index = 0; index < 256; ++index) {
            if (const auto value = sim::config_element(image, index)) {
                bus.set_ram_element(uid, index, *value);
                bus.set_eeprom_element(uid, index, *value);
            }
        }
    }
}

// Sets one element in a unit's RAM and, unless told otherwise, keeps the
// unit's stored checksum valid for the new contents.
inline void setDeviceElement(sim::Installation& bus, std::uint8_t uid, unsigned index, std::uint32_t value,
                             bool fix_checksum = true) {
    bus.set_ram_element(uid, index, value);
    if (fix_checksum) {
        if (auto image = bus.ram_image(uid)) bus.set_ram_element(uid, 252, sim::config_image_crc(*image));
    }
}

// A window connected to an installation of `units` default units through
// the in-process bridge. Construction returns at once; call
// waitForInitialLoad() before driving it.
class SimulatedWindow {
public:
    explicit SimulatedWindow(unsigned units = 3, const vk61::WindowSettings& settings = offTheNetwork()) {
        // The window writes configuration backups into the application data
        // folder: never the user's own.
        previousDataHome = qgetenv("XDG_DATA_HOME");
        qputenv("XDG_DATA_HOME", dataHome.path().toLocal8Bit());
        sim::add_default_units(bus, units);
        vhid::attach_bridge(&bridge);
        window = std::make_unique<vk61::MainWindow>(settings);
        diagnostics.install();
        QObject::connect(window->statusBar(), &QStatusBar::messageChanged, window.get(),
                         [this](const QString& text) { statuses << text; });
        window->show();
    }
    ~SimulatedWindow() {
        window->close();
        window.reset();
        vhid::attach_bridge(nullptr);
        qputenv("XDG_DATA_HOME", previousDataHome);
    }
    SimulatedWindow(const SimulatedWindow&) = delete;
    SimulatedWindow& operator=(const SimulatedWindow&) = delete;

    // Waits (up to timeout_ms) until the link is up, the registry has every
    // unit and the load the window starts 1.5 s after connecting has ended
    // with its success message.
    bool waitForInitialLoad(int timeout_ms = 10000) {
        const std::size_t units = bus.unit_uids().size();
        return QTest::qWaitFor(
            [&] {
                return window->commsManager() && window->commsManager()->is_connected() &&
                       window->commsManager()->device_snapshot().size() == units &&
                       statuses.contains(QStringLiteral("Configuration successfully loaded from device"));
            },
            timeout_ms);
    }

    QString status() const { return window->statusBar()->currentMessage(); }

    // Clicks a button of the window and waits until the bus exchange it
    // started (if any) has ended and its outcome is shown.
    void click(const char* button) {
        widget<QPushButton>(button)->click();
        waitForBusIdle();
    }
    // Waits (up to timeout_ms) until no configuration exchange or reboot
    // wait runs on the window's bus worker.
    bool waitForBusIdle(int timeout_ms = 30000) {
        return QTest::qWaitFor([&] { return !window->busExchangeRunning(); }, timeout_ms);
    }

    // Every unit back to the factory configuration, no faults, empty logs.
    void reset() {
        bus.clear_faults();
        restoreFactoryConfiguration(bus);
        bus.clear_host_frames();
        diagnostics.clear();
        statuses.clear();
    }

    template <typename T>
    T* widget(const char* name) const {
        return window->findChild<T*>(QString::fromLatin1(name));
    }

    // Host frames with the given identifier base (0x390 writes, 0x3A0
    // stores, 0x370 reads) since the last clear.
    std::vector<vk61::BusFrame> hostFrames(std::uint32_t base) const {
        std::vector<vk61::BusFrame> out;
        for (const sim::HostFrame& f : bus.host_frames()) {
            if ((f.frame.identifier() & 0x7F0u) == base) out.push_back(f.frame);
        }
        return out;
    }

    // Members in construction order; the destructor detaches the bridge
    // from virtual_hidapi before the bridge and the installation go.
    QTemporaryDir dataHome;  // XDG_DATA_HOME while the window lives
    QByteArray previousDataHome;
    sim::Installation bus;
    sim::Bridge bridge{bus};
    Diagnostics diagnostics;
    std::unique_ptr<vk61::MainWindow> window;
    QStringList statuses;  // every status text shown, in order
};

}  // namespace windowtest
