// Shared set-up of the update-tab benchmarks: a scratch home and cache, the
// demo download content on a loopback server, the in-process simulated
// installation and a window connected to it, its status texts and the
// engine's log lines.
#pragma once

#include <QApplication>
#include <QDir>
#include <QNetworkProxy>
#include <QStatusBar>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "bridge.h"
#include "comms_manager.h"
#include "debug_log.h"
#include "default_installation.h"
#include "demo_content.h"
#include "directory_handler.h"
#include "installation.h"
#include "loopback_http_server.h"
#include "main_window.h"
#include "virtual_hidapi_control.h"

namespace benchrig {

// Call before the QApplication exists.
inline void isolate(const QTemporaryDir& home) {
    qputenv("HOME", home.path().toLocal8Bit());
    qputenv("XDG_CACHE_HOME", (home.path() + "/.cache").toLocal8Bit());
    qputenv("QT_QPA_PLATFORM", "offscreen");
    for (const char* name : {"http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"})
        qunsetenv(name);
}

// The demo's download server: manifest, one package per unit type, two
// airport databases (1 and 2 MiB).
class DemoServer {
public:
    DemoServer() : server_(vk61::make_directory_handler(root_.path())) {
        QNetworkProxy::setApplicationProxy(QNetworkProxy::NoProxy);
        ok_ = server_.listen() && vk61::write_demo_content(root_.path(), server_.url("/")).ok();
    }
    bool ok() const { return ok_; }
    QUrl manifestUrl() const { return server_.url("/firmware/downloads_manifest.json"); }
    QString file(const QString& relative) const { return QDir(root_.path()).filePath(relative); }

private:
    QTemporaryDir root_;
    vk61::LoopbackHttpServer server_;
    bool ok_ = false;
};

// A connected window over `units` default units; the engine's lines are
// collected instead of printed.
class Rig {
public:
    Rig(unsigned units, std::chrono::microseconds latency, const QUrl& manifest) {
        vk61::set_debug_log_sink([this](const std::string& line) {
            std::lock_guard lock(mutex_);
            lines_.push_back(line);
        });
        sim::add_default_units(bus, units);
        bus.set_latency(latency);
        vhid::attach_bridge(&bridge);
        vk61::WindowSettings settings;
        settings.initial_load_delay_ms = 1;
        settings.downloads.manifest_url = manifest;
        window = std::make_unique<vk61::MainWindow>(settings);
        QObject::connect(window->statusBar(), &QStatusBar::messageChanged, window.get(), [this](const QString& text) {
            statuses << text;
            status_times.push_back(std::chrono::steady_clock::now());
        });
        window->show();
    }
    ~Rig() {
        window->close();
        window.reset();
        vhid::attach_bridge(nullptr);
        vk61::set_debug_log_sink({});
    }

    bool waitConnected(int timeout_ms = 20000) {
        return QTest::qWaitFor(
            [&] {
                return window->commsManager() && window->commsManager()->is_connected() &&
                       window->commsManager()->device_snapshot().size() == bus.unit_uids().size() &&
                       statuses.contains("Configuration successfully loaded from device");
            },
            timeout_ms);
    }
    QString status() const { return window->statusBar()->currentMessage(); }
    template <typename T>
    T* widget(const char* name) const {
        return window->findChild<T*>(QString::fromLatin1(name));
    }
    std::vector<std::string> linesStartingWith(const std::vector<std::string>& prefixes) const {
        std::lock_guard lock(mutex_);
        std::vector<std::string> out;
        for (const std::string& line : lines_) {
            for (const std::string& prefix : prefixes) {
                if (line.rfind(prefix, 0) == 0) {
                    out.push_back(line);
                    break;
                }
            }
        }
        return out;
    }

    sim::Installation bus;
    sim::Bridge bridge{bus};
    std::unique_ptr<vk61::MainWindow> window;
    QStringList statuses;
    std::vector<std::chrono::steady_clock::time_point> status_times;

private:
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;  // guarded by mutex_
};

inline double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0.0 : values[values.size() / 2];
}

}  // namespace benchrig
