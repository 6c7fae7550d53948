// Erasing 16 blocks on 3 simulated units against the same on 1 unit.
//
// Bar: the 3-unit run takes at most 1.2x the 1-unit run, because units erase
// side by side with one block in flight each. The simulated latency stands in
// for the unit's block-erase time (a real 64 KiB NOR erase takes tens to
// hundreds of ms); with latency 0 nothing but the 500 us pause before every
// command is left to measure, and three units need three times the commands.
#include <cstdio>
#include <cstdlib>

#include "bench_flash_support.h"

namespace {

double erase_seconds(flashbench::Rig& rig, unsigned units) {
    std::vector<vk61::FirmwareTarget> targets;
    for (unsigned uid = 1; uid <= units; ++uid) targets.push_back({static_cast<std::uint8_t>(uid), 0x00100000});
    const auto start = flashbench::Clock::now();
    if (!rig.comms->erase_fw_update_blocks(targets, 16 * vk61::kFlashBlockSize, 120000, {})) {
        std::fprintf(stderr, "erase failed\n");
        std::exit(1);
    }
    return flashbench::seconds_since(start);
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::atoi(argv[1]) : 5;
    const unsigned latencies_us[] = {0, 1000, 10000, 50000};

    flashbench::Rig rig(3);
    std::printf("erase 16 blocks: 3 units against 1 unit, median of %d runs each (bar: ratio <= 1.2)\n", runs);
    std::printf("%14s %12s %12s %8s\n", "latency (us)", "1 unit (ms)", "3 units (ms)", "ratio");
    for (unsigned latency : latencies_us) {
        rig.bus.set_latency(std::chrono::microseconds(latency));
        std::vector<double> one, three;
        for (int run = 0; run < runs; ++run) {
            one.push_back(erase_seconds(rig, 1));
            three.push_back(erase_seconds(rig, 3));
        }
        const double t1 = flashbench::median(one), t3 = flashbench::median(three);
        std::printf("%14u %12.2f %12.2f %8.2f\n", latency, t1 * 1e3, t3 * 1e3, t3 / t1);
    }
    return 0;
}
