#include "progress_probe.h"

#include "flash/flash_types.h"

namespace soak {

void ProgressProbe::record(std::uint64_t done, std::uint64_t total, std::uint64_t phase, const void* user) {
    // The engine hands the pointer back as const; the probe is ours and mutable.
    static_cast<ProgressProbe*>(const_cast<void*>(user))->note(done, total, phase);
}

void ProgressProbe::note(std::uint64_t done, std::uint64_t total, std::uint64_t phase) {
    std::lock_guard lock(mutex_);
    ++calls_;
    if (done > total || (phase != vk61::kPhaseErase && phase != vk61::kPhaseWrite)) ++bad_;
    if (!running_) ++late_;
}

void ProgressProbe::begin_transfer() {
    std::lock_guard lock(mutex_);
    running_ = true;
}

void ProgressProbe::end_transfer() {
    std::lock_guard lock(mutex_);
    running_ = false;
}

std::uint64_t ProgressProbe::calls() const {
    std::lock_guard lock(mutex_);
    return calls_;
}

std::uint64_t ProgressProbe::bad_values() const {
    std::lock_guard lock(mutex_);
    return bad_;
}

std::uint64_t ProgressProbe::late_calls() const {
    std::lock_guard lock(mutex_);
    return late_;
}

}  // namespace soak
