// Input reports waiting for the host on one in-process device. The bridge
// pushes from any thread; one reader pops with a time-out. Once killed (cable
// pulled, device closed) pushes are dropped and pops fail, so a sink that
// outlives its device is harmless.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <vector>

namespace vhid {

class ReportQueue {
public:
    // Beyond this many unread reports new ones are dropped, as a HID driver's
    // own buffer would.
    static constexpr std::size_t kCapacity = 8192;

    void push(const std::uint8_t* report, std::size_t len);

    // Waits up to timeout_ms (-1: until a report arrives or the queue is
    // killed; 0: no wait). Returns bytes copied (truncated to len), 0 on
    // time-out, -1 once killed.
    int pop(std::uint8_t* buf, std::size_t len, int timeout_ms);

    void kill();
    bool dead() const;

private:
    mutable std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<std::vector<std::uint8_t>> reports_;  // guarded by mutex_
    bool dead_ = false;                              // guarded by mutex_
};

}  // namespace vhid
