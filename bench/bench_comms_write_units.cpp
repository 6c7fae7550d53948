// One write_setting to 15 units, every one acknowledging, and one
// save_user_settings to the same 15, against the simulator with zero latency.
//
// Limits measured against: the callers' time-outs, 1000 ms for a write and
// 5000 ms for a store.
#include "bench_comms_setup.h"

int main() {
    using namespace benchcomms;
    constexpr int kRuns = 21;

    ConnectedBus setup(15, true);
    std::vector<double> writes;
    std::vector<double> stores;
    for (int run = 0; run < kRuns; ++run) {
        const auto write_start = Clock::now();
        if (!setup.comms->write_setting(20, 0x1000u + run, 1000)) fail("a write failed");
        writes.push_back(ms_since(write_start));
        const auto store_start = Clock::now();
        if (!setup.comms->save_user_settings(0x2000u + run, 5000)) fail("a store failed");
        stores.push_back(ms_since(store_start));
    }
    for (std::uint8_t uid = 1; uid <= 15; ++uid) {
        if (setup.bus.eeprom_element(uid, 20) != 0x1000u + kRuns - 1) fail("a unit does not hold the value");
    }
    std::fprintf(stderr, "15 units acknowledging, %d runs (limits: 1000 ms write, 5000 ms store)\n", kRuns);
    std::fprintf(stderr, "  write_setting       median %8.3f ms  max %8.3f ms\n", median(writes),
                 *std::max_element(writes.begin(), writes.end()));
    std::fprintf(stderr, "  save_user_settings  median %8.3f ms  max %8.3f ms\n", median(stores),
                 *std::max_element(stores.begin(), stores.end()));
    return 0;
}
