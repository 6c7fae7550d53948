#include "report_queue.h"

#include <algorithm>
#include <chrono>
#include <cstring>

namespace vhid {

void ReportQueue::push(const std::uint8_t* report, std::size_t len) {
    {
        std::lock_guard lock(mutex_);
        if (dead_ || reports_.size() >= kCapacity) return;
        reports_.emplace_back(report, report + len);
    }
    ready_.notify_one();
}

int ReportQueue::pop(std::uint8_t* buf, std::size_t len, int timeout_ms) {
    std::unique_lock lock(mutex_);
    const auto ready = [this] { return dead_ || !reports_.empty(); };
    if (timeout_ms < 0) {
        ready_.wait(lock, ready);
    } else {
        ready_.wait_for(lock, std::chrono::milliseconds(timeout_ms), ready);
    }
    if (dead_) return -1;
    if (reports_.empty()) return 0;
    const auto& report = reports_.front();
    const std::size_t n = std::min(len, report.size());
    std::memcpy(buf, report.data(), n);
    reports_.pop_front();
    return static_cast<int>(n);
}

void ReportQueue::kill() {
    {
        std::lock_guard lock(mutex_);
        dead_ = true;
        reports_.clear();
    }
    ready_.notify_all();
}

bool ReportQueue::dead() const {
    std::lock_guard lock(mutex_);
    return dead_;
}

}  // namespace vhid
