// A ProgressFn target that checks what the engine reports: done never beyond
// total, phase 0 or 1, and no call once the transfer has returned.
#pragma once

#include <cstdint>
#include <mutex>

namespace soak {

class ProgressProbe {
public:
    // The ProgressFn; user is the probe.
    static void record(std::uint64_t done, std::uint64_t total, std::uint64_t phase, const void* user);

    void begin_transfer();
    void end_transfer();  // after the worker returned

    std::uint64_t calls() const;
    std::uint64_t bad_values() const;  // done > total or an unknown phase
    std::uint64_t late_calls() const;  // calls while no transfer runs

private:
    void note(std::uint64_t done, std::uint64_t total, std::uint64_t phase);

    mutable std::mutex mutex_;
    bool running_ = false;     // guarded by mutex_
    std::uint64_t calls_ = 0;  // guarded by mutex_
    std::uint64_t bad_ = 0;    // guarded by mutex_
    std::uint64_t late_ = 0;   // guarded by mutex_
};

}  // namespace soak
