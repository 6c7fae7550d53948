// End to end from the window, as in the demo: "Fetch Latest Firmware" gets the
// package for the addressed unit from the demo download server and verifies
// it, "Start Update" writes it to the three simulated units (1 ms reply
// latency, as the demo's simulator). Reports the time of each step and the
// engine's summary lines, and checks every unit's flash against the file.
#include <QElapsedTimer>
#include <QFile>
#include <QPushButton>

#include "bench_update_rig.h"

namespace {

constexpr std::uint32_t kWriteAddress = 0x00100000;  // the default units' prepare reply
constexpr std::uint32_t kImageOffset = 0x100;        // from the demo package's header

bool flashHolds(const sim::Installation& bus, const QByteArray& image) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(image.constData());
    for (std::uint8_t uid : bus.unit_uids()) {
        const auto header = bus.flash_bytes(uid, kWriteAddress, 64);
        const auto body = bus.flash_bytes(uid, kWriteAddress + kImageOffset, image.size() - 64);
        if (!std::equal(header.begin(), header.end(), bytes) || header.size() != 64) return false;
        if (body.size() != std::size_t(image.size() - 64) || !std::equal(body.begin(), body.end(), bytes + 64))
            return false;
        if (bus.unit_status(uid)->flash_faults.unerased_writes != 0) return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    QTemporaryDir home;
    benchrig::isolate(home);
    QApplication app(argc, argv);
    benchrig::DemoServer server;
    if (!server.ok()) {
        std::fprintf(stderr, "bench_update_end_to_end: could not start the download server\n");
        return 1;
    }
    QFile file(server.file("firmware/halvard_1.5.0.bin"));
    if (!file.open(QIODevice::ReadOnly)) return 1;
    const QByteArray image = file.readAll();

    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    std::vector<double> fetch_ms, update_s;
    std::vector<std::string> summary;
    for (int i = 0; i < runs; ++i) {
        benchrig::Rig rig(3, std::chrono::microseconds(1000), server.manifestUrl());
        if (!rig.waitConnected()) {
            std::fprintf(stderr, "bench_update_end_to_end: the window did not connect\n");
            return 1;
        }
        QElapsedTimer clock;
        clock.start();
        rig.widget<QPushButton>("pushButton_fetch_fw")->click();  // returns when the flow has ended
        fetch_ms.push_back(clock.nsecsElapsed() / 1e6);
        if (rig.status() != "Firmware ready: halvard_1.5.0.bin") {
            std::fprintf(stderr, "bench_update_end_to_end: fetch ended with \"%s\"\n", qPrintable(rig.status()));
            return 1;
        }
        clock.restart();
        rig.widget<QPushButton>("pushButton_start_update")->click();
        const bool finished = QTest::qWaitFor([&] { return rig.status() == "Firmware update finished"; }, 180000);
        update_s.push_back(clock.nsecsElapsed() / 1e9);
        if (!finished || !rig.statuses.contains("Firmware upload complete") || !flashHolds(rig.bus, image)) {
            std::fprintf(stderr, "bench_update_end_to_end: run %d failed (status \"%s\")\n", i + 1,
                         qPrintable(rig.status()));
            return 1;
        }
        std::printf("run %d: fetch and verify %.1f ms, update of 3 units %.2f s, all flash verified\n", i + 1,
                    fetch_ms.back(), update_s.back());
        summary = rig.linesStartingWith({"firmware update:", "prepare_fw_update:", "  UID", "fw_erase: all",
                                         "fw_write: image transfer complete", "fw_write: firmware header written"});
    }
    std::printf(
        "bench_update_end_to_end: in-process simulator (3 units, 1 ms latency) + loopback demo download "
        "server; %d runs, medians: fetch and verify %.1f ms, update %.2f s (%lld-byte image)\n",
        runs, benchrig::median(fetch_ms), benchrig::median(update_s), static_cast<long long>(image.size()));
    std::printf("log summary of the last run:\n");
    for (const std::string& line : summary) std::printf("  %s", line.c_str());
    return 0;
}
