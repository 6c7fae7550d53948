// Shared set-up of the engine benchmarks: a CommsManager connected through
// HidTransport and virtual_hidapi to an in-process simulated installation
// with zero reply latency, and small statistics helpers.
//
// The engine writes its diagnostic lines to standard output, so the figures
// go to standard error: run a benchmark with `>/dev/null` to see only them.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <thread>
#include <vector>

#include "bridge.h"
#include "comms_manager.h"
#include "default_installation.h"
#include "installation.h"
#include "virtual_hidapi_control.h"

namespace benchcomms {

using Clock = std::chrono::steady_clock;

inline double ms_since(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

inline double median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

[[noreturn]] inline void fail(const char* what) {
    std::fprintf(stderr, "benchmark set-up failed: %s\n", what);
    std::exit(1);
}

// units default units on the bus, connected, every unit known. With
// occupancy, one report marks them all occupied and alive first.
class ConnectedBus {
public:
    explicit ConnectedBus(unsigned units, bool occupancy = false) {
        sim::add_default_units(bus, units);
        vhid::attach_bridge(&bridge);
        if (!comms->connect()) fail("connect");
        wait_for([&] { return comms->device_snapshot().size() == units; }, "WHOAMI replies");
        if (occupancy) {
            bus.send_occupancy_report();
            wait_for(
                [&] {
                    const auto all = comms->device_snapshot();
                    return std::all_of(all.begin(), all.end(), [](const vk61::DeviceInfo& d) { return d.alive; });
                },
                "occupancy report");
        }
    }
    ~ConnectedBus() {
        comms.reset();
        vhid::attach_bridge(nullptr);
    }

    template <class Condition>
    static void wait_for(Condition condition, const char* what) {
        const auto deadline = Clock::now() + std::chrono::seconds(5);
        while (!condition()) {
            if (Clock::now() > deadline) fail(what);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }

    sim::Installation bus;
    sim::Bridge bridge{bus};
    std::unique_ptr<vk61::CommsManager> comms = std::make_unique<vk61::CommsManager>();
};

}  // namespace benchcomms
