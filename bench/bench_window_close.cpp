// How long closing and destroying a connected window takes.
// Limit: closing the window while connected returns within 100 ms.
#include <QApplication>
#include <QTest>
#include <QUrl>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include "bridge.h"
#include "comms_manager.h"
#include "installation.h"
#include "main_window.h"
#include "virtual_hidapi_control.h"

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    vk61::WindowSettings settings;  // the product's, with the manifest from a closed port
    settings.downloads.manifest_url = QUrl("http://127.0.0.1:1/firmware/downloads_manifest.json");

    sim::Installation bus;
    for (std::uint8_t uid = 1; uid <= 3; ++uid) {
        sim::UnitSpec unit_spec;
        unit_spec.uid = uid;
        bus.add_unit(unit_spec);
    }
    sim::Bridge bridge(bus);
    vhid::attach_bridge(&bridge);

    const int runs = 15;
    std::vector<double> close_ms;
    for (int run = 0; run < runs; ++run) {
        auto* window = new vk61::MainWindow(settings);
        window->show();
        if (!QTest::qWaitFor([&] { return window->commsManager() && window->commsManager()->is_connected(); }, 5000)) {
            std::fprintf(stderr, "bench_window_close: window did not connect\n");
            return 1;
        }
        QTest::qWait(50);  // let the receive thread settle into polling
        const auto start = std::chrono::steady_clock::now();
        window->close();
        delete window;
        const auto end = std::chrono::steady_clock::now();
        close_ms.push_back(std::chrono::duration<double, std::milli>(end - start).count());
    }
    vhid::attach_bridge(nullptr);

    std::sort(close_ms.begin(), close_ms.end());
    std::printf("bench_window_close: %d runs, close+destroy median %.2f ms, min %.2f ms, max %.2f ms (limit 100 ms)\n",
                runs, close_ms[runs / 2], close_ms.front(), close_ms.back());
    return 0;
}
