// Peak memory of the airport worker replacing the database of one unit with
// the largest file it accepts (832 blocks, 54,525,952 bytes).
//
// Expected: about the file's size plus a small constant, since the worker
// holds the file once and sends it chunk by chunk. The simulated unit (which
// stores what it is sent) runs in a child process behind the wire server, so
// only the worker's process is measured. The upload runs at the protocol's
// pace (one 64-byte chunk per 500 us pause): about eight minutes.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

#include "bench_flash_support.h"
#include "transfer/airport_worker.h"
#include "wire_server.h"

namespace {

constexpr std::size_t kFileSize = 54525952;

long peak_rss_kib() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

long current_rss_kib() {
    std::ifstream status("/proc/self/status");
    std::string key;
    while (status >> key) {
        long value = 0;
        if (key == "VmRSS:" && status >> value) return value;
    }
    return -1;
}

// Child: one simulated unit behind the wire server. Sends its port up
// `port_out`, then runs until the parent closes `run_while_open`.
[[noreturn]] void run_simulator(int port_out, int run_while_open) {
    sim::Installation bus;
    sim::add_default_units(bus, 1);
    sim::WireServer server(bus);
    if (!server.start(0)) _exit(3);
    const std::uint16_t port = server.port();
    if (write(port_out, &port, sizeof port) != sizeof port) _exit(3);
    char byte;
    while (read(run_while_open, &byte, 1) > 0) {}
    server.stop();
    _exit(0);
}

}  // namespace

int main() {
    // Forked before any thread exists in this process.
    int to_child[2], from_child[2];
    if (pipe(to_child) != 0 || pipe(from_child) != 0) return 2;
    const pid_t child = fork();
    if (child < 0) return 2;
    if (child == 0) {
        close(to_child[1]);
        close(from_child[0]);
        run_simulator(from_child[1], to_child[0]);
    }
    close(to_child[0]);
    close(from_child[1]);
    std::uint16_t port = 0;
    if (read(from_child[0], &port, sizeof port) != sizeof port) return 2;
    const std::string bridge = "127.0.0.1:" + std::to_string(port);
    setenv("VK61_BRIDGE", bridge.c_str(), 1);

    const std::string path = "/tmp/vk61_bench_airport_" + std::to_string(getpid()) + ".db";
    {
        // Written in pieces so that the baseline peak stays small. The piece
        // size is a multiple of 255, so the pattern runs on unbroken.
        const std::vector<std::uint8_t> piece = flashbench::nonzero_bytes(255 * 4096);
        std::ofstream out(path, std::ios::binary);
        for (std::size_t written = 0; written < kFileSize; written += piece.size()) {
            const std::size_t n = std::min(piece.size(), kFileSize - written);
            out.write(reinterpret_cast<const char*>(piece.data()), static_cast<std::streamsize>(n));
        }
    }

    int status_code = 0;
    {
        vk61::CommsManager comms;
        if (!comms.connect()) return 2;
        const auto deadline = flashbench::Clock::now() + std::chrono::seconds(5);
        while (comms.device_snapshot().empty() && flashbench::Clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        const long baseline = current_rss_kib();
        const long peak_before = peak_rss_kib();
        const auto start = flashbench::Clock::now();
        const vk61::AirportResult result = vk61::run_airport_upload(comms, path, {1}, {}, {});
        const double elapsed = flashbench::seconds_since(start);
        const long peak = peak_rss_kib();
        std::printf("airport worker, 1 unit, %zu-byte file: %s in %.1f s (%.0f B/s)\n", kFileSize,
                    result.ok() ? "succeeded" : "FAILED", elapsed, kFileSize / elapsed);
        std::printf("RSS before the run %ld KiB (peak so far %ld KiB); peak during the run %ld KiB\n", baseline,
                    peak_before, peak);
        std::printf("peak minus baseline %ld KiB = file size %zu KiB + %ld KiB\n", peak - baseline, kFileSize / 1024,
                    peak - baseline - static_cast<long>(kFileSize / 1024));
        status_code = result.ok() ? 0 : 1;
    }
    std::remove(path.c_str());
    close(to_child[1]);
    waitpid(child, nullptr, 0);
    return status_code;
}
