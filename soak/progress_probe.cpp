#include "progress_probe.h"

namespace soak {

vk61::ProgressCallback ProgressProbe::callback() {
    return [this](std::uint64_t done, std::uint64_t total, vk61::ProgressPhase phase) { note(done, total, phase); };
}

void ProgressProbe::note(std::uint64_t done, std::uint64_t total, vk61::ProgressPhase phase) {
    std::lock_guard lock(mutex_);
    ++calls_;
    if (done > total || (phase != vk61::ProgressPhase::Erase && phase != vk61::ProgressPhase::Write)) ++bad_;
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
