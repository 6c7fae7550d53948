// Waiting for the end of a window exchange in a benchmark: an event loop
// that ends on the status text the exchange finishes with, so the wait adds
// no polling interval of its own to what is measured.
#pragma once

#include <QEventLoop>
#include <QStatusBar>
#include <QTimer>

#include <functional>

#include "main_window.h"

// Runs the event loop until finished(status text) holds after a status
// change and no exchange runs, or timeout_ms passed; false on the time-out.
inline bool runUntilStatus(vk61::MainWindow& window, const std::function<bool(const QString&)>& finished,
                           int timeout_ms = 30000) {
    QEventLoop loop;
    bool done = false;
    const auto connection =
        QObject::connect(window.statusBar(), &QStatusBar::messageChanged, &loop, [&](const QString& text) {
            if (!finished(text)) return;
            done = true;
            loop.quit();
        });
    QTimer::singleShot(timeout_ms, &loop, &QEventLoop::quit);
    loop.exec();
    QObject::disconnect(connection);
    return done;
}
