// "Load settings from EFIS" from an EFIS that stops answering mid-load (the
// header and the first 20 settings answered, nothing after), with the
// product's time-outs (500 ms per read, two retries): the longest gap in the
// window's event loop while the load runs (limit 100 ms) and the time from
// the click to the load's final status (limit 5 s: three silent settings end
// it).
#include <QApplication>
#include <QElapsedTimer>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include "bench_window_load_wait.h"
#include "window_test_support.h"

namespace {

sim::Fault silentAfter(unsigned answered) {
    sim::Fault fault;
    fault.kind = sim::FaultKind::Drop;
    fault.reply = sim::ReplyKind::SettingReply;
    fault.skip = answered;
    fault.times = 0;  // every reply from then on
    return fault;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    windowtest::SimulatedWindow sim;
    if (!sim.waitForInitialLoad()) {
        std::fprintf(stderr, "bench_window_silent_load: the initial load did not finish\n");
        return 1;
    }

    const int runs = 5;
    std::vector<double> gaps_ms;
    std::vector<double> totals_ms;
    for (int run = 0; run < runs; ++run) {
        sim.bus.clear_faults();
        sim.bus.add_fault(silentAfter(4 + 20));

        // A 1 ms timer on the window's thread: the longest time between two
        // of its ticks is the longest the window did not answer.
        QElapsedTimer sinceTick;
        double longest_gap_ms = 0;
        QTimer ticker;
        ticker.setTimerType(Qt::PreciseTimer);
        QObject::connect(&ticker, &QTimer::timeout, [&] {
            longest_gap_ms = std::max(longest_gap_ms, sinceTick.nsecsElapsed() / 1e6);
            sinceTick.restart();
        });
        ticker.start(1);
        sinceTick.start();

        const auto start = std::chrono::steady_clock::now();
        sim.window->statusBar()->clearMessage();  // the same text again must count
        sim.widget<QPushButton>("pushButton_load")->click();
        // The click itself is part of what the window does on its thread.
        longest_gap_ms = std::max(longest_gap_ms, sinceTick.nsecsElapsed() / 1e6);
        sinceTick.restart();
        const bool ended = runUntilStatus(*sim.window, [](const QString& text) { return text.startsWith("Warning:"); });
        const auto end = std::chrono::steady_clock::now();
        ticker.stop();
        if (!ended) {
            std::fprintf(stderr, "bench_window_silent_load: run %d ended with \"%s\"\n", run, qPrintable(sim.status()));
            return 1;
        }
        gaps_ms.push_back(longest_gap_ms);
        totals_ms.push_back(std::chrono::duration<double, std::milli>(end - start).count());
        std::printf("run %d: longest event-loop gap %.1f ms, load %.0f ms: \"%s\"\n", run, longest_gap_ms,
                    totals_ms.back(), qPrintable(sim.status()));
    }
    sim.bus.clear_faults();
    std::printf(
        "bench_window_silent_load: %d loads, longest event-loop gap median %.1f ms (limit 100 ms), "
        "load median %.0f ms (limit 5000 ms)\n",
        runs, median(gaps_ms), median(totals_ms));
    return 0;
}
