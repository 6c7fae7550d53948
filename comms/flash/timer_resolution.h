// Keeps the pauses between flash commands short.
//
// Units need a pause of 500 us between consecutive flash commands. A plain
// sleep of that length overshoots by the system's timer granularity: one tick
// of the 64 Hz system clock on Windows unless the multimedia timer resolution
// is raised, and the thread's timer slack (50 us by default) on Linux. This guard raises the
// resolution to 1 ms (Windows, process-wide and reference counted by the
// system) or drops the calling thread's timer slack to 1 ns (Linux) for its
// lifetime.
#pragma once

#include <chrono>

namespace vk61 {

inline constexpr std::chrono::microseconds kFlashCommandPause{500};

class TimerResolution {
public:
    // Must be destroyed on the thread that created it: on Linux the timer
    // slack is a property of the calling thread.
    TimerResolution();
    ~TimerResolution();
    TimerResolution(const TimerResolution&) = delete;
    TimerResolution& operator=(const TimerResolution&) = delete;

    // True when the resolution was changed (and will be restored).
    bool active() const { return active_; }

private:
    bool active_ = false;
    long previous_slack_ns_ = 0;  // Linux only
};

// Sleeps for the pause between two flash commands. Call with no lock held
// that the receive thread needs; blocks for kFlashCommandPause plus the
// system's overshoot.
void pause_between_flash_commands();

}  // namespace vk61
