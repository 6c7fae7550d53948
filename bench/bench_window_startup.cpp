// Time from the window's first paint to a filled devices table and a loaded
// configuration, against the in-process simulated installation with the
// demo's reply latency (1 ms). By design this is the 1.5 s delay before the
// first load plus the load itself.
#include <QApplication>
#include <QStatusBar>
#include <QTableWidget>
#include <QTest>
#include <QUrl>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include "bridge.h"
#include "default_installation.h"
#include "installation.h"
#include "main_window.h"
#include "virtual_hidapi_control.h"

namespace {

class FirstPaint : public QObject {
public:
    std::chrono::steady_clock::time_point at{};
    bool seen = false;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint && !seen) {
            seen = true;
            at = std::chrono::steady_clock::now();
        }
        return QObject::eventFilter(watched, event);
    }
};

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    vk61::WindowSettings settings;  // the product's, with the manifest from a closed port
    settings.downloads.manifest_url = QUrl("http://127.0.0.1:1/firmware/downloads_manifest.json");

    const int runs = 5;
    std::vector<double> ms;
    for (int run = 0; run < runs; ++run) {
        sim::Installation bus;
        sim::add_default_units(bus, 3);
        bus.set_latency(std::chrono::milliseconds(1));
        sim::Bridge bridge(bus);
        vhid::attach_bridge(&bridge);
        {
            vk61::MainWindow window(settings);
            FirstPaint paint;
            window.installEventFilter(&paint);
            window.show();
            auto* table = window.findChild<QTableWidget*>("table_devices");
            const bool done = QTest::qWaitFor(
                [&] {
                    return table->rowCount() == 3 &&
                           window.statusBar()->currentMessage() == "Configuration successfully loaded from device";
                },
                10000);
            const auto end = std::chrono::steady_clock::now();
            if (!done || !paint.seen) {
                std::fprintf(stderr, "bench_window_startup: the window did not load\n");
                return 1;
            }
            ms.push_back(std::chrono::duration<double, std::milli>(end - paint.at).count());
            window.removeEventFilter(&paint);
            window.close();
        }
        vhid::attach_bridge(nullptr);
    }
    std::sort(ms.begin(), ms.end());
    std::printf(
        "bench_window_startup: %d runs, first paint to loaded configuration median %.0f ms (min %.0f, max %.0f)\n",
        runs, ms[runs / 2], ms.front(), ms.back());
    return 0;
}
