// The wait every blocking operation of the manager shares.
//
// Each operation owns one slot: it arms the slot under the slot's lock, sends
// its request with the lock still held (so the reply cannot be matched before
// the slot is armed), and waits inside wait_for below, which releases the lock
// only inside the condition wait. The receive thread records answers in the
// slot and a failure with fail(); disconnect() and a dropped link end every
// armed slot with abort(). This file is the one home of that wait: every part
// of the engine that blocks uses wait_for or exchange.
#pragma once

#include <algorithm>
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

// What ends a wait besides done(), the deadline, a dropped link and
// disconnect(): a failure recorded in the slot (the usual wait), or nothing
// else (a wait for the rest of a step's answers after one of them failed it).
enum class WaitEnd { DoneOrFailure, DoneOnly };

// Waits, with `lock` holding slot.mutex, until done() holds, the slot fails
// (unless `end` is DoneOnly), the link drops or disconnect() begins; at most
// until deadline. `link` is
// the engine's Link (anything with disconnecting() and is_connected()).
// Returns None once done, else why not: TimedOut or the slot's failure (a
// dropped link and disconnect() are recorded in the slot first). Returns with
// the lock held.
template <class LinkState, class Done>
FailureReason wait_for(const LinkState& link, WaitSlot& slot, std::unique_lock<std::mutex>& lock,
                       WaitClock::time_point deadline, Done done, WaitEnd end = WaitEnd::DoneOrFailure) {
    for (;;) {
        if (link.disconnecting()) {
            slot.fail(FailureReason::Disconnected);
            if (end == WaitEnd::DoneOnly) return FailureReason::Disconnected;
        } else if (!done() && !link.is_connected()) {
            slot.fail(FailureReason::LinkLost);
            if (end == WaitEnd::DoneOnly) return FailureReason::LinkLost;
        }
        if (end == WaitEnd::DoneOrFailure && slot.failed()) return slot.failure;
        if (done()) return FailureReason::None;
        const auto now = WaitClock::now();
        if (now >= deadline) return FailureReason::TimedOut;
        slot.cv.wait_until(lock, std::min(deadline, now + kLinkCheckPeriod));
    }
}

// The shape of every single-request exchange: arms the slot (arm() and
// set_up()), runs send() with the slot locked so the reply cannot be matched
// before the slot is armed, and waits for done() up to deadline. finish(why)
// runs under the lock once the wait ended, to read the slot. Returns
// SendFailed (without waiting) when send() failed.
template <class LinkState, class SetUp, class Send, class Done, class Finish>
FailureReason exchange(const LinkState& link, WaitSlot& slot, WaitClock::time_point deadline, SetUp set_up, Send send,
                       Done done, Finish finish) {
    std::unique_lock lock(slot.mutex);
    slot.arm();
    set_up();
    if (!send()) {
        slot.active = false;
        return FailureReason::SendFailed;
    }
    const FailureReason why = wait_for(link, slot, lock, deadline, done);
    slot.active = false;
    finish(why);
    return why;
}

}  // namespace vk61
