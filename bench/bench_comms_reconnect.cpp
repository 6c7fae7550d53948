// Spacing of the USB reconnect attempts while the cable is out, and the time
// from plugging it back to the engine knowing every unit again.
//
// Limit measured against: one attempt every 500 ms.
#include <mutex>
#include <string>

#include "bench_comms_setup.h"
#include "debug_log.h"

int main() {
    using namespace benchcomms;
    constexpr std::size_t kAttempts = 8;

    ConnectedBus setup(3);
    std::mutex mutex;
    std::vector<Clock::time_point> attempts;
    Clock::time_point reconnected{};
    vk61::set_debug_log_sink([&](const std::string& line) {
        std::lock_guard lock(mutex);
        if (line.rfind("USB HID: attempting reconnect", 0) == 0) attempts.push_back(Clock::now());
        if (line == "USB HID: reconnected\n") reconnected = Clock::now();
    });

    vhid::pull_cable();
    ConnectedBus::wait_for(
        [&] {
            std::lock_guard lock(mutex);
            return attempts.size() >= kAttempts;
        },
        "reconnect attempts");
    setup.bus.clear_host_frames();
    const auto plugged = Clock::now();
    vhid::plug_cable();
    ConnectedBus::wait_for(
        [&] {
            std::lock_guard lock(mutex);
            return reconnected != Clock::time_point{};
        },
        "reconnect");
    // Rediscovery is done once every unit's WHOAMI reply was handled; the
    // registry keeps the units, so watch the request and the replies' effect.
    ConnectedBus::wait_for([&] { return !setup.bus.host_frames().empty(); }, "rediscovery");
    const double to_reconnect = ms_since(plugged);
    vk61::set_debug_log_sink({});

    std::vector<double> gaps;
    for (std::size_t i = 1; i < attempts.size(); ++i) {
        gaps.push_back(std::chrono::duration<double, std::milli>(attempts[i] - attempts[i - 1]).count());
    }
    std::fprintf(stderr, "reconnect attempts with the cable out (target: every 500 ms)\n");
    std::fprintf(stderr, "  interval     median %7.1f ms  min %7.1f ms  max %7.1f ms  (%zu gaps)\n", median(gaps),
                 *std::min_element(gaps.begin(), gaps.end()), *std::max_element(gaps.begin(), gaps.end()), gaps.size());
    std::fprintf(stderr, "  plug to WHOAMI sent %7.1f ms\n", to_reconnect);
    return 0;
}
