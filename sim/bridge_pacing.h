// What moving reports through a full-speed USB bridge, and erasing NOR flash,
// costs in time.
//
// Each direction is one endpoint: a report waits until the one before it has
// gone, then takes its own cost, so reports in one direction never overlap or
// overtake each other, while the two directions run side by side. Each unit's
// flash erases one block at a time; different units erase at the same time.
//
// Pure arithmetic on the times it is given (it never reads a clock), so the
// caller decides what "now" is. Thread-safe.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>

namespace sim {

struct BridgeCosts {
    // One output report (always 73 bytes on this bridge), host to bridge.
    std::chrono::microseconds host_report{0};
    // One input report of up to 64 bytes, bridge to host; a longer one takes
    // one more of these per further 64 bytes started (one packet per frame).
    std::chrono::microseconds device_report{0};
    // Erasing one 64 KiB block of a unit's flash.
    std::chrono::microseconds erase_block{0};

    // What a real bridge and NOR flash take: 2 ms (two 1 ms frames) per
    // output report, 1 ms per short input report, 150 ms per block.
    static BridgeCosts real_bridge();
};

class BridgePacing {
public:
    using Clock = std::chrono::steady_clock;

    static constexpr std::size_t kPacketSize = 64;

    void set_costs(const BridgeCosts& costs);
    BridgeCosts costs() const;
    // Whether every cost is 0 (the default): each call below then returns
    // the time it is given, so a caller on a hot path may skip it, and the
    // clock reading it would need, without taking the lock.
    bool is_free() const { return free_.load(std::memory_order_relaxed); }

    // When an output report handed over at `sent` reaches the bus. Books the
    // host-to-bridge endpoint until then.
    Clock::time_point host_report(Clock::time_point sent);
    // When an input report of `length` bytes, ready at `ready`, reaches the
    // host. Books the bridge-to-host endpoint until then. Call in the order
    // the reports become ready.
    Clock::time_point device_report(Clock::time_point ready, std::size_t length);
    // When an erase of one block of unit `uid`, asked for at `asked`, is done.
    // Books that unit's flash until then.
    Clock::time_point erase_block(std::uint8_t uid, Clock::time_point asked);

private:
    mutable std::mutex mutex_;
    BridgeCosts costs_;                                     // guarded by mutex_
    Clock::time_point host_free_{};                         // guarded by mutex_
    Clock::time_point device_free_{};                       // guarded by mutex_
    std::map<std::uint8_t, Clock::time_point> flash_free_;  // guarded by mutex_
    std::atomic<bool> free_{true};
};

}  // namespace sim
