// Shared set-up of the engine tests: a CommsManager connected through the real
// HidTransport and virtual_hidapi to an in-process simulated installation,
// the engine's log captured line by line, and waits with a deadline.
//
// Checks of what a unit holds ask the simulator (bus.ram_element, ...), never
// the engine's own account.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bridge.h"
#include "bus_frame.h"
#include "comms_manager.h"
#include "debug_log.h"
#include "default_installation.h"
#include "installation.h"
#include "virtual_hidapi_control.h"

namespace commstest {

using namespace std::chrono_literals;

inline constexpr std::chrono::milliseconds kWaitLimit{3000};

// Polls condition() every millisecond until it holds; false once timeout passed.
template <class Condition>
bool eventually(Condition condition, std::chrono::milliseconds timeout = kWaitLimit) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) return condition();
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

// Every engine log line since construction, in order.
class LogCapture {
public:
    LogCapture() {
        vk61::set_debug_log_sink([this](const std::string& line) {
            std::lock_guard lock(mutex_);
            lines_.push_back(line);
            changed_.notify_all();
        });
    }
    ~LogCapture() { vk61::set_debug_log_sink({}); }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::vector<std::string> lines() const {
        std::lock_guard lock(mutex_);
        return lines_;
    }
    void clear() {
        std::lock_guard lock(mutex_);
        lines_.clear();
    }
    // Lines that contain text.
    std::vector<std::string> matching(const std::string& text) const {
        std::vector<std::string> out;
        for (const std::string& line : lines()) {
            if (line.find(text) != std::string::npos) out.push_back(line);
        }
        return out;
    }
    std::size_t count(const std::string& text) const { return matching(text).size(); }
    std::size_t count_exact(const std::string& line) const {
        std::size_t n = 0;
        for (const std::string& l : lines()) n += l == line ? 1 : 0;
        return n;
    }
    bool contains(const std::string& text) const { return count(text) > 0; }
    // Lines that begin with prefix.
    std::size_t count_prefix(const std::string& prefix) const {
        std::size_t n = 0;
        for (const std::string& l : lines()) n += l.rfind(prefix, 0) == 0 ? 1 : 0;
        return n;
    }

    // Blocks until at least n lines equal `line` exactly, or timeout passes.
    bool wait_exact(const std::string& line, std::size_t n = 1, std::chrono::milliseconds timeout = kWaitLimit) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, timeout, [&] {
            std::size_t seen = 0;
            for (const std::string& l : lines_) seen += l == line ? 1 : 0;
            return seen >= n;
        });
    }
    // Blocks until at least n lines contain text, or timeout passes.
    bool wait_for(const std::string& text, std::size_t n = 1, std::chrono::milliseconds timeout = kWaitLimit) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, timeout, [&] {
            std::size_t seen = 0;
            for (const std::string& l : lines_) seen += l.find(text) != std::string::npos ? 1 : 0;
            return seen >= n;
        });
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> lines_;
};

// Counts calls of a callback and keeps what an optional probe returned.
class CallCounter {
public:
    std::function<void()> callback(std::function<void()> probe = {}) {
        return [this, probe] {
            if (probe) probe();
            std::lock_guard lock(mutex_);
            ++calls_;
        };
    }
    int calls() const {
        std::lock_guard lock(mutex_);
        return calls_;
    }

private:
    mutable std::mutex mutex_;
    int calls_ = 0;
};

inline std::vector<std::uint8_t> le32(std::uint32_t v) {
    return {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v >> 16),
            static_cast<std::uint8_t>(v >> 24)};
}
inline std::vector<std::uint8_t> le24(std::uint32_t v) {
    return {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v >> 16)};
}
inline std::vector<std::uint8_t> bytes_of(std::initializer_list<std::vector<std::uint8_t>> parts) {
    std::vector<std::uint8_t> out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}
inline vk61::BusFrame frame_of(std::uint32_t identifier, std::uint8_t dlc, const std::vector<std::uint8_t>& data) {
    return vk61::make_frame(0, identifier, dlc, data.data(), data.size());
}

// A manager connected to an in-process simulated bus.
class CommsFixture : public ::testing::Test {
protected:
    void TearDown() override {
        comms.reset();  // disconnects and joins the receive thread
        vhid::attach_bridge(nullptr);
        expect_no_unerased_writes();
    }

    // Whatever a test checks, programming flash that was not erased first
    // leaves a unit with corrupted bytes: the simulator counts every such
    // byte, and any count fails the test.
    void expect_no_unerased_writes() const {
        for (std::uint8_t uid : bus.unit_uids()) {
            const auto status = bus.unit_status(uid);
            if (!status) continue;
            EXPECT_EQ(status->flash_faults.unerased_writes, 0u)
                << "UID " << unsigned{uid} << " programmed unerased bytes, the first at 0x" << std::hex
                << status->flash_faults.first_unerased_address;
        }
    }

    // Puts the default units 1..units on the bus, connects, and waits until
    // the engine has heard every unit's WHOAMI reply. Clears the frame log.
    void connect_units(unsigned units) {
        if (units > 0) sim::add_default_units(bus, units);
        connect_bus();
        ASSERT_TRUE(eventually([&] { return comms->device_snapshot().size() == bus.unit_uids().size(); }))
            << "the engine did not learn every unit";
        settle();
        bus.clear_host_frames();
    }
    // Connects to whatever is on the bus now, without waiting for replies.
    void connect_bus() {
        vhid::attach_bridge(&bridge);
        ASSERT_TRUE(comms->connect());
    }

    // Frames the host sent with this base (and these UID bits, unless any).
    std::vector<vk61::BusFrame> sent(std::uint32_t base, int uid = -1) const {
        std::vector<vk61::BusFrame> out;
        for (const sim::HostFrame& f : bus.host_frames()) {
            if (f.frame.base() == base && (uid < 0 || f.frame.uid_bits() == uid)) out.push_back(f.frame);
        }
        return out;
    }
    // Waits until the host has sent at least n frames with this base.
    bool wait_sent(std::uint32_t base, std::size_t n = 1) const {
        return bus.wait_until([&] { return sent(base).size() >= n; }, kWaitLimit);
    }

    void inject(std::uint32_t identifier, std::uint8_t dlc, const std::vector<std::uint8_t>& data) {
        bus.inject_to_host(frame_of(identifier, dlc, data));
    }

    // Returns once the receive thread has handled every frame queued for the
    // host before this call: it injects a marker frame (a setting reply too
    // short to use, which the engine always logs and otherwise ignores) and
    // waits for its line. Frames reach the engine in order on one thread.
    void settle() {
        const std::string marker = "settings_rx: reject short payload can=0x38E dlc=1 bytes=1\n";
        const std::size_t before = log.count_exact(marker);
        inject(0x38E, 1, {0x00});
        ASSERT_TRUE(log.wait_exact(marker, before + 1)) << "the receive thread did not reach the marker";
    }

    LogCapture log;
    sim::Installation bus;
    sim::Bridge bridge{bus};
    std::unique_ptr<vk61::CommsManager> comms = std::make_unique<vk61::CommsManager>();
};

}  // namespace commstest
