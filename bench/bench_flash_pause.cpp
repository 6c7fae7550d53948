// What the 500 us pause between flash commands really lasts: a plain
// sleep_for(500 us) with the thread's default timer slack, and the same under
// TimerResolution (slack 1 ns on Linux, 1 ms timer period on Windows).
//
// Limit measured against: 500 us, the shortest pause the units accept.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include "flash/timer_resolution.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Figures {
    double median_us;
    double p90_us;
    double max_us;
};

Figures measure(int samples) {
    std::vector<double> us;
    us.reserve(static_cast<std::size_t>(samples));
    for (int i = 0; i < samples; ++i) {
        const auto start = Clock::now();
        vk61::pause_between_flash_commands();
        us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
    std::sort(us.begin(), us.end());
    return {us[us.size() / 2], us[us.size() * 9 / 10], us.back()};
}

void print(const char* label, const Figures& f) {
    std::printf("%-28s median %7.1f us  p90 %7.1f us  max %8.1f us\n", label, f.median_us, f.p90_us, f.max_us);
}

}  // namespace

int main() {
    constexpr int kSamples = 2000;
    std::printf("pause between flash commands, %d samples each (target 500 us)\n", kSamples);
    print("default timer slack", measure(kSamples));
    {
        const vk61::TimerResolution resolution;
        std::printf("timer resolution guard active: %s\n", resolution.active() ? "yes" : "no");
        print("under TimerResolution", measure(kSamples));
    }
    return 0;
}
