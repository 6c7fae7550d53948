// The bridge's timing model: when each report and each erase is done, given
// when it was asked for. Computed on fixed times, so nothing here depends on
// how fast the machine is.
#include "bridge_pacing.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Clock = sim::BridgePacing::Clock;

enum class Step { HostReport, DeviceReport, EraseBlock };

struct Event {
    Step step;
    std::chrono::microseconds at;  // handed over / ready / asked for, from the start
    std::size_t arg = 0;           // input report length, or the erasing unit's UID
    std::chrono::microseconds done;
};

struct Row {
    std::string name;
    sim::BridgeCosts costs;
    std::vector<Event> events;  // in the order they happen
};

// An output report (always 73 bytes) handed over at `at`, through at `done`.
Event host(std::chrono::microseconds at, std::chrono::microseconds done) { return {Step::HostReport, at, 73, done}; }
// An input report of `length` bytes ready at `at`, at the host at `done`.
Event device(std::chrono::microseconds at, std::size_t length, std::chrono::microseconds done) {
    return {Step::DeviceReport, at, length, done};
}
// Unit `uid` asked at `at` to erase a block, done at `done`.
Event erase(std::size_t uid, std::chrono::microseconds at, std::chrono::microseconds done) {
    return {Step::EraseBlock, at, uid, done};
}

sim::BridgeCosts costs(std::chrono::microseconds host, std::chrono::microseconds device,
                       std::chrono::microseconds erase) {
    sim::BridgeCosts c;
    c.host_report = host;
    c.device_report = device;
    c.erase_block = erase;
    return c;
}

TEST(BridgePacing, reportsQueuePerDirectionAndErasesPerUnit) {
    using S = Step;
    const auto real = sim::BridgeCosts::real_bridge();
    const Row rows[] = {
        {"free by default: everything is done when asked",
         sim::BridgeCosts{},
         {host(0us, 0us), host(0us, 0us), device(5us, 14, 5us), erase(1, 7us, 7us)}},
        {"two output reports sent back to back arrive 2 ms apart",
         real,
         {host(0us, 2ms), host(0us, 4ms), host(100us, 6ms)}},
        {"an output report after a pause costs only itself", real, {host(0us, 2ms), host(10ms, 12ms)}},
        {"replies ready together reach the host 1 ms apart, in order",
         real,
         {device(0us, 14, 1ms), device(0us, 14, 2ms), device(500us, 14, 3ms)}},
        {"a reply cannot overtake the one still crossing",
         costs(0us, 1ms, 0us),
         {device(0us, 71, 2ms), device(1500us, 11, 3ms), device(9ms, 11, 10ms)}},
        {"an input report of 64 bytes is one packet, of 65 two", real, {device(0us, 64, 1ms), device(10ms, 65, 12ms)}},
        {"the two directions cross side by side",
         real,
         {host(0us, 2ms), device(0us, 14, 1ms), host(0us, 4ms), device(1ms, 14, 2ms)}},
        {"one unit erases three blocks in three times the block time",
         real,
         {erase(1, 0us, 150ms), erase(1, 0us, 300ms), erase(1, 0us, 450ms)}},
        {"units erase at the same time",
         real,
         {erase(1, 0us, 150ms), erase(2, 0us, 150ms), erase(3, 0us, 150ms), erase(2, 2ms, 300ms)}},
        {"an erase asked for after the last one ended starts then",
         costs(0us, 0us, 40ms),
         {erase(4, 0us, 40ms), erase(4, 100ms, 140ms)}},
    };
    // Far from the clock's epoch, as real steady_clock times are.
    const auto start = Clock::time_point{} + 1000h;
    for (const auto& row : rows) {
        sim::BridgePacing pacing;
        pacing.set_costs(row.costs);
        // Callers skip a free pacing altogether; one that costs must not read as free.
        EXPECT_EQ(pacing.is_free(),
                  row.costs.host_report == 0us && row.costs.device_report == 0us && row.costs.erase_block == 0us)
            << row.name;
        for (std::size_t i = 0; i < row.events.size(); ++i) {
            const auto& e = row.events[i];
            Clock::time_point done;
            switch (e.step) {
            case S::HostReport: done = pacing.host_report(start + e.at); break;
            case S::DeviceReport: done = pacing.device_report(start + e.at, e.arg); break;
            case S::EraseBlock: done = pacing.erase_block(static_cast<std::uint8_t>(e.arg), start + e.at); break;
            }
            EXPECT_EQ(std::chrono::duration_cast<std::chrono::microseconds>(done - start).count(), e.done.count())
                << row.name << ", event " << i;
        }
    }
}

}  // namespace
