#include "scheduler.h"

namespace sim {

Scheduler::Scheduler() : thread_([this] { run(); }) {}

Scheduler::~Scheduler() { stop(); }

void Scheduler::post_at(Clock::time_point when, std::function<void()> task) {
    {
        std::lock_guard lock(mutex_);
        if (stopping_) return;
        tasks_.emplace(std::make_pair(when, next_order_++), std::move(task));
    }
    wake_.notify_one();
}

void Scheduler::stop() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        tasks_.clear();
    }
    wake_.notify_one();
    if (thread_.joinable()) thread_.join();
}

// Waits for the earliest task's due time, or for a new earlier task or stop.
// The task runs with the mutex released so it may post further tasks.
void Scheduler::run() {
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        if (tasks_.empty()) {
            wake_.wait(lock, [this] { return stopping_ || !tasks_.empty(); });
            continue;
        }
        const auto due = tasks_.begin()->first.first;
        if (Clock::now() < due) {
            wake_.wait_until(lock, due);
            continue;
        }
        auto task = std::move(tasks_.begin()->second);
        tasks_.erase(tasks_.begin());
        lock.unlock();
        task();
        lock.lock();
    }
}

}  // namespace sim
