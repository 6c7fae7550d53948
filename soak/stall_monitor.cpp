#include "stall_monitor.h"

#include <algorithm>

namespace soak {

namespace {
using Clock = std::chrono::steady_clock;
constexpr auto kPeriod = std::chrono::milliseconds(5);
}  // namespace

StallMonitor::StallMonitor() : thread_([this] { run(); }) {}

StallMonitor::~StallMonitor() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    stop_cv_.notify_all();
    thread_.join();
}

void StallMonitor::reset() {
    std::lock_guard lock(mutex_);
    longest_ = std::chrono::microseconds(0);
}

std::chrono::milliseconds StallMonitor::longest_stall() const {
    std::lock_guard lock(mutex_);
    return std::chrono::duration_cast<std::chrono::milliseconds>(longest_);
}

// Waits one period at a time for the stop flag; each wake-up that comes later
// than its period is a stall.
void StallMonitor::run() {
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        const auto due = Clock::now() + kPeriod;
        if (stop_cv_.wait_until(lock, due, [this] { return stopping_; })) return;
        const auto late = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - due);
        longest_ = std::max(longest_, late);
    }
}

}  // namespace soak
