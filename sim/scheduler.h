// One thread that runs tasks at given times: delayed replies, reboot ends,
// occupancy ticks, automatic replug. Tasks due at the same time run in the
// order they were posted.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <utility>

namespace sim {

class Scheduler {
public:
    using Clock = std::chrono::steady_clock;

    Scheduler();
    ~Scheduler();  // stop()
    Scheduler(const Scheduler&) = delete;
    Scheduler& operator=(const Scheduler&) = delete;

    void post_at(Clock::time_point when, std::function<void()> task);

    // Drops what is still pending and joins the thread. Idempotent; never call
    // it from a task.
    void stop();

private:
    void run();

    std::mutex mutex_;
    std::condition_variable wake_;
    // Guarded by mutex_. Keyed by (due time, post order).
    std::map<std::pair<Clock::time_point, std::uint64_t>, std::function<void()>> tasks_;
    std::uint64_t next_order_ = 0;  // guarded by mutex_
    bool stopping_ = false;         // guarded by mutex_
    std::thread thread_;
};

}  // namespace sim
