// Measures how long the soak's own process is held off the CPU.
//
// The soak hands the workers short time-outs (500 ms per echo), so on a
// loaded machine a wait can expire only because no thread of the process ran.
// This thread wakes every 5 ms and records how late each wake-up came; a late
// wake-up means every thread of the process could have been kept waiting as
// long. An operation that failed without a fault while this monitor saw a
// long stall tells nothing about the engine, and the report says which it was.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace soak {

class StallMonitor {
public:
    StallMonitor();   // starts the thread
    ~StallMonitor();  // stops and joins it
    StallMonitor(const StallMonitor&) = delete;
    StallMonitor& operator=(const StallMonitor&) = delete;

    // Starts a new measurement window.
    void reset();
    // The latest wake-up of the window so far, beyond its 5 ms period.
    std::chrono::milliseconds longest_stall() const;

private:
    void run();

    mutable std::mutex mutex_;
    std::condition_variable stop_cv_;
    bool stopping_ = false;                 // guarded by mutex_
    std::chrono::microseconds longest_{0};  // guarded by mutex_
    std::thread thread_;
};

}  // namespace soak
