// The one wait shared by the flash operations of the manager.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

namespace vk61 {

// How a wait on a flash slot ended.
struct SlotWaitResult {
    bool complete = false;   // ended on a flag or on completion (false: timed out)
    bool succeeded = false;  // completed with neither the failed nor the disconnecting flag
};

// Polling period for a link that drops while a transfer waits. A pulled cable
// wakes nobody (only disconnect() does), so without it a long erase wait would
// sit out its whole time-out.
inline constexpr std::chrono::milliseconds kLinkCheckPeriod{10};

// Waits on slot.cv, with `lock` holding slot.mutex, until done() holds, the
// slot's failed flag is set or `disconnecting` is set; at most until deadline.
// A link that goes down during the wait marks the slot failed. Returns with
// the lock held.
template <class Slot, class Done, class LinkUp>
SlotWaitResult wait_slot(Slot& slot, std::unique_lock<std::mutex>& lock, const std::atomic<bool>& disconnecting,
                         std::chrono::steady_clock::time_point deadline, LinkUp link_up, Done done) {
    const auto finished = [&] { return disconnecting.load() || slot.failed || done(); };
    while (!finished()) {
        if (!link_up()) {
            slot.failed = true;
            break;
        }
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline) return {false, false};
        slot.cv.wait_until(lock, std::min(deadline, now + kLinkCheckPeriod), finished);
    }
    return {true, !disconnecting.load() && !slot.failed && done()};
}

// The deadline timeout_ms from now.
inline std::chrono::steady_clock::time_point deadline_after(unsigned timeout_ms) {
    return std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
}

}  // namespace vk61
