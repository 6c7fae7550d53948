// Start-up of the window while the download server accepts connections and
// never answers: time from constructing the window to "Connecting..." and to
// the loaded configuration, with the product's settings (60 s fetch limit,
// 1.5 s delay before the first load) except for the manifest URL, against
// the in-process simulated installation (1 ms reply latency).
#include <QApplication>
#include <QNetworkProxy>
#include <QStatusBar>
#include <QTest>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include "bridge.h"
#include "default_installation.h"
#include "http_message.h"
#include "installation.h"
#include "loopback_http_server.h"
#include "main_window.h"
#include "virtual_hidapi_control.h"

namespace {

using Clock = std::chrono::steady_clock;

double msBetween(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

void report(const char* what, std::vector<double> ms) {
    std::sort(ms.begin(), ms.end());
    std::printf("bench_window_unanswering_server: %s median %.0f ms (min %.0f, max %.0f, %zu runs)\n", what,
                ms[ms.size() / 2], ms.front(), ms.back(), ms.size());
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QNetworkProxy::setApplicationProxy(QNetworkProxy::NoProxy);

    int requests = 0;
    vk61::LoopbackHttpServer server([&requests](const vk61::HttpRequest&) {
        ++requests;
        vk61::HttpResponse response;
        response.never_answer = true;
        return response;
    });
    if (!server.listen()) {
        std::fprintf(stderr, "bench_window_unanswering_server: the server did not listen\n");
        return 1;
    }
    vk61::WindowSettings settings;  // the product's
    settings.downloads.manifest_url = server.url("/firmware/downloads_manifest.json");

    const int runs = 5;
    std::vector<double> connecting_ms;
    std::vector<double> loaded_ms;
    for (int run = 0; run < runs; ++run) {
        sim::Installation bus;
        sim::add_default_units(bus, 3);
        bus.set_latency(std::chrono::milliseconds(1));
        sim::Bridge bridge(bus);
        vhid::attach_bridge(&bridge);
        {
            const int requests_before = requests;
            const Clock::time_point start = Clock::now();
            Clock::time_point connecting{};
            Clock::time_point loaded{};
            vk61::MainWindow window(settings);
            QObject::connect(window.statusBar(), &QStatusBar::messageChanged, &window, [&](const QString& text) {
                if (text == "Connecting..." && connecting == Clock::time_point{}) connecting = Clock::now();
                if (text == "Configuration successfully loaded from device" && loaded == Clock::time_point{})
                    loaded = Clock::now();
            });
            window.show();
            const bool done = QTest::qWaitFor([&] { return loaded != Clock::time_point{}; }, 90000);
            if (!done || connecting == Clock::time_point{} || requests == requests_before) {
                std::fprintf(stderr,
                             "bench_window_unanswering_server: run %d did not load (or never asked the server)\n", run);
                return 1;
            }
            connecting_ms.push_back(msBetween(start, connecting));
            loaded_ms.push_back(msBetween(start, loaded));
            window.close();
        }
        vhid::attach_bridge(nullptr);
    }
    report("start to \"Connecting...\"", connecting_ms);
    report("start to configuration loaded", loaded_ms);
    return 0;
}
