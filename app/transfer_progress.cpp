#include "transfer_progress.h"

namespace vk61::progress {

int barValue(std::uint64_t done, std::uint64_t total, std::uint64_t phase) {
    if (total == 0) return 0;
    if (done > total) done = total;
    // Keeps done * 8,800 inside 64 bits for any total the callback may carry;
    // the low bits dropped here cannot move a value on a 10,000 scale by more
    // than one unit, and only totals above 2^48 are touched.
    while (total > (std::uint64_t{1} << 48)) {
        done >>= 1;
        total >>= 1;
    }
    if (phase == 0) return static_cast<int>(done * kEraseShare / total);
    return kEraseShare + static_cast<int>(done * (kBarMaximum - kEraseShare) / total);
}

bool Throttle::accept(int value, std::uint64_t done, std::uint64_t total, int phase, std::int64_t now_ns) {
    if (phase != last_phase_) {
        last_phase_ = phase;
    } else if (done != total || total == 0) {
        const bool recent = now_ns - last_update_ns_ < kMinIntervalNs;
        const bool shown = last_value_ != -1;
        if (total == 0) {
            if (shown && recent) return false;
        } else if (shown && value <= last_value_ + kMinValueStep && recent) {
            return false;
        }
    }
    last_value_ = value;
    last_update_ns_ = now_ns;
    return true;
}

void Throttle::reset() {
    last_update_ns_ = 0;
    last_value_ = -1;
    last_phase_ = -2;
}

}  // namespace vk61::progress
