// Shared set-up of the flash tests, on top of the engine tests' fixture: a
// CommsManager connected through the real HidTransport and virtual_hidapi to
// an in-process simulated installation. Every check of what a unit holds asks
// the simulator, not the engine.
#pragma once

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <tuple>
#include <vector>

#include "comms_test_support.h"
#include "flash/flash_types.h"

namespace flashtest {

using commstest::LogCapture;

// Records every progress call made through callback().
class ProgressLog {
public:
    using Call = std::tuple<std::uint64_t, std::uint64_t, std::uint64_t>;  // done, total, phase number

    vk61::ProgressCallback callback() {
        return [this](std::uint64_t done, std::uint64_t total, vk61::ProgressPhase phase) {
            std::lock_guard lock(mutex_);
            calls_.emplace_back(done, total, static_cast<std::uint64_t>(phase));
        };
    }
    std::vector<Call> calls() const {
        std::lock_guard lock(mutex_);
        return calls_;
    }
    std::vector<Call> phase(std::uint64_t wanted) const {
        std::vector<Call> out;
        for (const Call& c : calls()) {
            if (std::get<2>(c) == wanted) out.push_back(c);
        }
        return out;
    }

private:
    mutable std::mutex mutex_;
    std::vector<Call> calls_;
};

// Deterministic test bytes that never contain zero: the simulated unit takes
// trailing zero bytes of a padded chunk for padding.
inline std::vector<std::uint8_t> pattern(std::size_t n, unsigned seed = 1) {
    std::vector<std::uint8_t> out(n);
    for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<std::uint8_t>((i * 37 + seed * 11) % 255 + 1);
    return out;
}

// A scratch directory removed with the fixture.
class TempDir {
public:
    TempDir() {
        static std::atomic<unsigned> counter{0};
        path_ = std::filesystem::temp_directory_path() /
                ("vk61_flash_" + std::to_string(::getpid()) + "_" + std::to_string(counter++));
        std::filesystem::remove_all(path_);
        std::filesystem::create_directories(path_);
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    std::string write(const std::string& name, const std::vector<std::uint8_t>& bytes) const {
        const std::filesystem::path file = path_ / name;
        std::ofstream out(file, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return file.string();
    }
    // A file of the given size without writing its bytes (sparse where the
    // file system allows).
    std::string sized(const std::string& name, std::uintmax_t size) const {
        const std::filesystem::path file = path_ / name;
        std::ofstream(file, std::ios::binary).close();
        std::filesystem::resize_file(file, size);
        return file.string();
    }
    std::string path(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

// Index of the first log line that contains text, or -1.
inline long line_index(const LogCapture& log, const std::string& text) {
    const std::vector<std::string> lines = log.lines();
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].find(text) != std::string::npos) return static_cast<long>(i);
    }
    return -1;
}

class FlashTest : public commstest::CommsFixture {
protected:
    // Block numbers of the erase commands sent to one unit, in order.
    std::vector<unsigned> erased_blocks(std::uint8_t uid) const {
        std::vector<unsigned> out;
        for (const vk61::BusFrame& f : sent(0x430, uid)) out.push_back(vk61::get_u16(f.data() + 4));
        return out;
    }
    std::vector<std::uint8_t> flash(std::uint8_t uid, std::uint32_t address, std::size_t len) const {
        return bus.flash_bytes(uid, address, len);
    }
    std::size_t unerased_writes(std::uint8_t uid) const {
        const auto status = bus.unit_status(uid);
        return status ? status->flash_faults.unerased_writes : 0;
    }

    ProgressLog progress;
};

}  // namespace flashtest
