// Set-up shared by the flash benchmarks: a CommsManager on the real
// HidTransport, reaching an in-process simulated installation through
// virtual_hidapi.
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

namespace flashbench {

using Clock = std::chrono::steady_clock;

// Units 1..units behind the in-process bridge, with the engine connected and
// every unit discovered. Exits the process when the set-up fails.
class Rig {
public:
    explicit Rig(unsigned units) {
        sim::add_default_units(bus, units);
        vhid::attach_bridge(&bridge);
        if (!comms->connect()) fail("connect failed");
        const auto deadline = Clock::now() + std::chrono::seconds(5);
        while (comms->device_snapshot().size() < units) {
            if (Clock::now() > deadline) fail("units not discovered");
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    ~Rig() {
        comms.reset();
        vhid::attach_bridge(nullptr);
    }
    Rig(const Rig&) = delete;
    Rig& operator=(const Rig&) = delete;

    sim::Installation bus;
    sim::Bridge bridge{bus};
    std::unique_ptr<vk61::CommsManager> comms = std::make_unique<vk61::CommsManager>();

private:
    [[noreturn]] static void fail(const char* what) {
        std::fprintf(stderr, "bench set-up: %s\n", what);
        std::exit(2);
    }
};

inline double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

inline double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Bytes that never end a chunk in zero (the simulated unit would take
// trailing zeros of a padded chunk for padding).
inline std::vector<std::uint8_t> nonzero_bytes(std::size_t n) {
    std::vector<std::uint8_t> out(n);
    for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<std::uint8_t>((i * 131 + 7) % 255 + 1);
    return out;
}

}  // namespace flashbench
