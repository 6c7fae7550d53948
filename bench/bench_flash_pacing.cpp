// The simulator's bridge pacing as the engine meets it: a raw upload to one
// unit and an erase run on one and on three units, free and with the costs of
// a real full-speed bridge and NOR flash (2 ms per output report, 1 ms per
// input report, 150 ms per 64 KiB block).
//
// Limits it is measured against: a chunk round trip costs the output report,
// the echo and the 500 us pause, 3.5 ms in all; an erase run costs the block
// time per block whatever the number of units, since units erase side by side.
#include <cstdio>

#include "bench_flash_support.h"
#include "debug_log.h"

namespace {

constexpr std::size_t kUploadSize = 16u << 10;
constexpr std::uint32_t kBlocks = 4;

double upload_chunk_ms(flashbench::Rig& rig, std::uint32_t address) {
    const std::vector<std::uint8_t> data = flashbench::nonzero_bytes(kUploadSize);
    const auto start = flashbench::Clock::now();
    const bool ok = rig.comms->extflash_raw(1, address, data.data(), data.size(), 10000, {}).ok();
    const double elapsed = flashbench::seconds_since(start);
    if (!ok || rig.bus.flash_bytes(1, address, kUploadSize) != data) {
        std::fprintf(stderr, "upload failed\n");
        std::exit(1);
    }
    return elapsed * 1e3 / static_cast<double>(kUploadSize / vk61::kFlashChunkSize);
}

double erase_ms(flashbench::Rig& rig, unsigned units) {
    std::vector<vk61::FirmwareTarget> targets;
    for (unsigned uid = 1; uid <= units; ++uid) targets.push_back({static_cast<std::uint8_t>(uid), 0x00100000});
    const auto start = flashbench::Clock::now();
    if (!rig.comms->erase_fw_update_blocks(targets, kBlocks * vk61::kFlashBlockSize, 120000, {})) {
        std::fprintf(stderr, "erase failed\n");
        std::exit(1);
    }
    return flashbench::seconds_since(start) * 1e3;
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::atoi(argv[1]) : 5;
    vk61::set_debug_log_stream(nullptr);  // the figures only
    flashbench::Rig rig(3);
    std::printf("bridge pacing, median of %d runs each\n", runs);
    std::printf("%-12s %22s %18s %18s\n", "costs", "upload (ms per chunk)", "erase 4, 1 unit", "erase 4, 3 units");
    const struct {
        const char* name;
        sim::BridgeCosts costs;
    } rows[] = {{"none", sim::BridgeCosts{}}, {"real bridge", sim::BridgeCosts::real_bridge()}};
    std::uint32_t address = 0x01000000;
    for (const auto& row : rows) {
        rig.bus.set_bridge_costs(row.costs);
        std::vector<double> chunk, one, three;
        for (int run = 0; run < runs; ++run) {
            chunk.push_back(upload_chunk_ms(rig, address));
            address += static_cast<std::uint32_t>(kUploadSize);
            one.push_back(erase_ms(rig, 1));
            three.push_back(erase_ms(rig, 3));
        }
        std::printf("%-12s %22.3f %15.1f ms %15.1f ms\n", row.name, flashbench::median(chunk), flashbench::median(one),
                    flashbench::median(three));
    }
    std::printf("limits with real-bridge costs: 3.5 ms per chunk; %u x 150 = %u ms per erase run\n", kBlocks,
                kBlocks * 150);
    vk61::set_debug_log_stream(stdout);
    return 0;
}
