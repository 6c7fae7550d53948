// Progress of a running transfer as the update tab shows it: one bar from
// 0 to 10,000 (erase 0-1,200, write 1,200-10,000) and a status text, updated
// at a bounded rate so that many thousand chunks do not flood the GUI thread.
#pragma once

#include <QString>

#include <cstdint>

namespace vk61 {

class UpdateTab;

namespace progress {

inline constexpr int kBarMaximum = 10000;
inline constexpr int kEraseShare = 1200;
inline constexpr int kMinValueStep = 40;
inline constexpr std::int64_t kMinIntervalNs = 40'000'000;  // 40 ms

// The bar value of (done, total) in a phase (0 erase, 1 write); 0 when total is 0.
int barValue(std::uint64_t done, std::uint64_t total, std::uint64_t phase);

// Decides which progress reports reach the window: the first of a phase,
// the last one (done = total), and otherwise at most one per 40 ms unless the
// bar moved by more than 40 units.
class Throttle {
public:
    // True when the report should be shown; then value and time are remembered.
    bool accept(int value, std::uint64_t done, std::uint64_t total, int phase, std::int64_t now_ns);
    void reset();

private:
    std::int64_t last_update_ns_ = 0;
    int last_value_ = -1;  // -1: nothing shown yet
    int last_phase_ = -2;  // -2: no phase seen yet
};

}  // namespace progress

// What a transfer worker's progress callback works on. Used by one thread at
// a time: the worker, or the receive thread while the worker waits in an
// erase run.
struct TransferProgressContext {
    UpdateTab* tab = nullptr;
    bool firmware = true;
    vk61::progress::Throttle throttle;
    // Airport transfer only: the unit being written and its place in the list
    // (count 0: every unit at once, `units` of them).
    int uid = 0;
    int position = 0;
    int count = 0;
    int units = 0;
    // Where the current phase started, for the rate.
    int phase = -1;
    std::int64_t phase_start_ns = 0;
    std::uint64_t phase_start_done = 0;
};

}  // namespace vk61
