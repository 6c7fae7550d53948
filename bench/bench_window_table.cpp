// How long one refresh of the devices table takes with 15 units.
// Limit: under 50 ms (not noticeable).
#include <QApplication>
#include <QTableWidget>
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
    for (std::uint8_t uid = 1; uid <= 15; ++uid) {
        sim::UnitSpec unit_spec;
        unit_spec.uid = uid;
        unit_spec.device_id = (uid == 1 ? 0xC3010000u : 0xD5020000u) + uid;
        bus.add_unit(unit_spec);
    }
    sim::Bridge bridge(bus);
    vhid::attach_bridge(&bridge);

    vk61::MainWindow window(settings);
    window.show();
    auto* table = window.findChild<QTableWidget*>("table_devices");
    if (!QTest::qWaitFor([&] { return table->rowCount() == 15; }, 5000)) {
        std::fprintf(stderr, "bench_window_table: the table did not fill\n");
        return 1;
    }

    const int runs = 50;
    std::vector<double> ms;
    for (int run = 0; run < runs; ++run) {
        const auto start = std::chrono::steady_clock::now();
        window.refreshDeviceTable();
        const auto end = std::chrono::steady_clock::now();
        ms.push_back(std::chrono::duration<double, std::milli>(end - start).count());
    }
    window.close();
    vhid::attach_bridge(nullptr);
    std::sort(ms.begin(), ms.end());
    std::printf("bench_window_table: 15 units, %d refreshes, median %.2f ms, max %.2f ms (limit 50 ms)\n", runs,
                ms[runs / 2], ms.back());
    return 0;
}
