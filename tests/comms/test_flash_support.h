// Shared set-up of the flash tests: a CommsManager connected through the real
// HidTransport and virtual_hidapi to an in-process simulated installation,
// with the engine's log captured and progress calls recorded. Every check of
// what a unit holds asks the simulator, not the engine.
#pragma once

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "bridge.h"
#include "comms_manager.h"
#include "debug_log.h"
#include "default_installation.h"
#include "installation.h"
#include "virtual_hidapi_control.h"

namespace flashtest {

// Every engine log line since construction.
class LogCapture {
public:
    LogCapture() {
        vk61::set_debug_log_sink([this](const std::string& line) {
            std::lock_guard lock(mutex_);
            lines_.push_back(line);
        });
    }
    ~LogCapture() { vk61::set_debug_log_sink({}); }

    std::vector<std::string> lines() const {
        std::lock_guard lock(mutex_);
        return lines_;
    }
    // Index of the first line that contains text, or -1.
    long find(const std::string& text) const {
        const std::vector<std::string> all = lines();
        for (std::size_t i = 0; i < all.size(); ++i) {
            if (all[i].find(text) != std::string::npos) return static_cast<long>(i);
        }
        return -1;
    }
    bool contains(const std::string& text) const { return find(text) >= 0; }

private:
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
};

// Records every progress call; a ProgressFn with this as its user pointer.
class ProgressLog {
public:
    using Call = std::tuple<std::uint64_t, std::uint64_t, std::uint64_t>;  // done, total, phase

    static void record(std::uint64_t done, std::uint64_t total, std::uint64_t phase, const void* user) {
        auto* self = static_cast<ProgressLog*>(const_cast<void*>(user));
        std::lock_guard lock(self->mutex_);
        self->calls_.emplace_back(done, total, phase);
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

// Waits (polling every millisecond) until condition() holds; false after timeout.
template <class Condition>
bool eventually(Condition condition, std::chrono::milliseconds timeout = std::chrono::milliseconds(3000)) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) return condition();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

class FlashTest : public ::testing::Test {
protected:
    void TearDown() override {
        comms.reset();  // disconnects and joins the receive thread
        vhid::attach_bridge(nullptr);
    }

    // Puts `units` default units on the bus (UIDs 1..units) without `skip_uid`,
    // connects and waits until the engine knows them all.
    void connect(unsigned units, std::uint8_t skip_uid = 0) {
        sim::add_default_units(bus, units);
        if (skip_uid != 0) bus.remove_unit(skip_uid);
        vhid::attach_bridge(&bridge);
        ASSERT_TRUE(comms->connect());
        const std::size_t expected = bus.unit_uids().size();
        ASSERT_TRUE(eventually([&] { return comms->device_snapshot().size() == expected; }));
        bus.clear_host_frames();
    }

    // Frames the host sent with this identifier base (and UID bits, unless any_uid).
    std::vector<vk61::BusFrame> sent(std::uint32_t base, int uid = -1) const {
        std::vector<vk61::BusFrame> out;
        for (const sim::HostFrame& f : bus.host_frames()) {
            if (f.frame.base() == base && (uid < 0 || f.frame.uid_bits() == uid)) out.push_back(f.frame);
        }
        return out;
    }
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

    LogCapture log;
    sim::Installation bus;
    sim::Bridge bridge{bus};
    std::unique_ptr<vk61::CommsManager> comms = std::make_unique<vk61::CommsManager>();
    ProgressLog progress;
};

}  // namespace flashtest
