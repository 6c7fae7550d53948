// The wait every blocking operation of the manager shares.
//
// Each operation owns one slot: it arms the slot under the slot's lock, sends
// its request with the lock still held (so the reply cannot be matched before
// the slot is armed), and waits inside CommsManager::wait_for, which releases
// the lock only inside the condition wait. The receive thread records answers
// in the slot and a failure with fail(); disconnect() and a dropped link end
// every armed slot with abort().
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "operation_result.h"

namespace vk61 {

using WaitClock = std::chrono::steady_clock;

// How often a wait looks at the link besides being woken. The receive thread
// aborts every wait when it sees the link fail; this is the backstop for a
// link that drops between an operation's start and its wait.
inline constexpr std::chrono::milliseconds kLinkCheckPeriod{10};

// The deadline timeout_ms from now.
inline WaitClock::time_point deadline_after(unsigned timeout_ms) {
    return WaitClock::now() + std::chrono::milliseconds(timeout_ms);
}

struct WaitSlot {
    std::mutex mutex;
    std::condition_variable cv;
    bool active = false;  // an operation is armed on this slot
    FailureReason failure = FailureReason::None;
    std::uint8_t failed_uid = 0;  // the unit whose answer failed the operation, or 0

    bool failed() const { return failure != FailureReason::None; }

    // Lock held: starts a new operation with no failure.
    void arm() {
        active = true;
        failure = FailureReason::None;
        failed_uid = 0;
    }
    // Lock held: records the first failure of the operation and wakes it.
    void fail(FailureReason why, std::uint8_t uid = 0) {
        if (!failed()) {
            failure = why;
            failed_uid = uid;
        }
        cv.notify_all();
    }
    // Takes the lock: ends the armed operation, if any, with `why`; answers
    // that arrive afterwards are no longer matched.
    void abort(FailureReason why) {
        std::lock_guard lock(mutex);
        if (!active) return;
        fail(why);
        active = false;
    }
};

}  // namespace vk61
