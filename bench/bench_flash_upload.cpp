// Raw upload of 1 MiB to one simulated unit answering with zero latency.
//
// Limit: one 64-byte chunk per 500 us pause, 128,000 B/s; the bar is 80 % of
// it on Linux. The rest of each chunk's period is the echo's round trip
// through the transport, the simulated bridge and the receive thread.
#include <cstdio>

#include "bench_flash_support.h"
#include "debug_log.h"

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::atoi(argv[1]) : 5;
    constexpr std::size_t kSize = 1u << 20;
    constexpr double kLimit = 128000.0;
    const std::size_t chunks = (kSize + vk61::kFlashChunkSize - 1) / vk61::kFlashChunkSize;

    flashbench::Rig rig(1);
    const std::vector<std::uint8_t> data = flashbench::nonzero_bytes(kSize);
    std::vector<double> rates;
    std::vector<double> periods_us;
    for (int run = 0; run < runs; ++run) {
        // A fresh (erased) MiB of the unit's flash for every run.
        const auto address = static_cast<std::uint32_t>(run) * static_cast<std::uint32_t>(kSize);
        const auto start = flashbench::Clock::now();
        const bool ok = rig.comms->extflash_raw(1, address, data.data(), data.size(), 10000, {}).ok();
        const double elapsed = flashbench::seconds_since(start);
        if (!ok || rig.bus.flash_bytes(1, address, kSize) != data) {
            std::fprintf(stderr, "run %d: upload failed\n", run);
            return 1;
        }
        rates.push_back(static_cast<double>(kSize) / elapsed);
        periods_us.push_back(elapsed * 1e6 / static_cast<double>(chunks));
        std::fprintf(stderr, "run %d: %.3f s, %.0f B/s, %.1f us per chunk\n", run, elapsed, rates.back(),
                     periods_us.back());
    }
    const double rate = flashbench::median(rates);
    std::printf("raw upload 1 MiB, 1 unit, latency 0, %d runs\n", runs);
    std::printf("median %.0f B/s = %.1f %% of the %.0f B/s limit (bar: 80 %%)\n", rate, rate * 100.0 / kLimit, kLimit);
    std::printf("median per-chunk period %.1f us (limit 500 us)\n", flashbench::median(periods_us));
    return 0;
}
