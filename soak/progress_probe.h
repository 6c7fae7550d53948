// A progress callback target that checks what the engine reports: done never
// beyond total, a known phase, and no call once the transfer has returned.
#pragma once

#include <cstdint>
#include <mutex>

#include "flash/flash_types.h"

namespace soak {

class ProgressProbe {
public:
    // The progress callback of a transfer; the probe outlives the transfer.
    vk61::ProgressCallback callback();

    void begin_transfer();
    void end_transfer();  // after the worker returned

    std::uint64_t calls() const;
    std::uint64_t bad_values() const;  // done > total or an unknown phase
    std::uint64_t late_calls() const;  // calls while no transfer runs

private:
    void note(std::uint64_t done, std::uint64_t total, vk61::ProgressPhase phase);

    mutable std::mutex mutex_;
    bool running_ = false;     // guarded by mutex_
    std::uint64_t calls_ = 0;  // guarded by mutex_
    std::uint64_t bad_ = 0;    // guarded by mutex_
    std::uint64_t late_ = 0;   // guarded by mutex_
};

}  // namespace soak
