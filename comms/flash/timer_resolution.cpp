#include "timer_resolution.h"

#include <thread>

#if defined(_WIN32)
#include <windows.h>
#include <timeapi.h>
#elif defined(__linux__)
#include <sys/prctl.h>
#endif

namespace vk61 {

namespace {
#if defined(__linux__)
// The smallest slack the kernel takes (0 would mean "back to the default").
constexpr unsigned long kMinimalSlackNs = 1;
#endif
}  // namespace

TimerResolution::TimerResolution() {
#if defined(_WIN32)
    active_ = timeBeginPeriod(1) == TIMERR_NOERROR;
#elif defined(__linux__)
    const int previous = prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0);
    if (previous > 0 && prctl(PR_SET_TIMERSLACK, kMinimalSlackNs, 0, 0, 0) == 0) {
        previous_slack_ns_ = previous;
        active_ = true;
    }
#endif
}

TimerResolution::~TimerResolution() {
    if (!active_) return;
#if defined(_WIN32)
    timeEndPeriod(1);
#elif defined(__linux__)
    prctl(PR_SET_TIMERSLACK, static_cast<unsigned long>(previous_slack_ns_), 0, 0, 0);
#endif
}

void pause_between_flash_commands() { std::this_thread::sleep_for(kFlashCommandPause); }

}  // namespace vk61
