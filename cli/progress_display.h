// Progress of a transfer on standard error: on a terminal a bar redrawn in
// place (phase, percentage, bytes and blocks, rate, time left); without one,
// a plain line every few seconds and at each change of phase.
//
// record() is what the engine's progress callback calls: it runs on the worker or the
// receive thread with the transfer's lock held, so it only stores numbers
// (under a lock of its own that nothing else is taken under);
// tick() draws them on the thread that owns the stream.
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <ostream>
#include <optional>
#include <string>

#include "flash/flash_types.h"

namespace vk61::cli {

class ProgressDisplay {
public:
    ProgressDisplay(std::ostream& err, bool terminal, std::chrono::milliseconds line_interval);
    ProgressDisplay(const ProgressDisplay&) = delete;
    ProgressDisplay& operator=(const ProgressDisplay&) = delete;

    // Stores one progress report; the transfer's progress callback calls it.
    void record(std::uint64_t done, std::uint64_t total, ProgressPhase phase);
    // The next unit of a transfer that visits the units in turn.
    void begin_unit(std::uint8_t uid, int position, int count);

    // Draws what changed; call it regularly on the stream's thread.
    void tick();
    // Ends the bar's line (terminal) so that later messages start afresh.
    void finish();

    // The text of one progress report, without the bar.
    static std::string describe(std::uint64_t done, std::uint64_t total, ProgressPhase phase, double rate,
                                double seconds_left);

private:
    using Clock = std::chrono::steady_clock;

    std::ostream& err_;
    const bool terminal_;
    const std::chrono::milliseconds line_interval_;

    // The newest report, written by record() and read by tick() as one
    // piece, so that its numbers and its unit always belong together.
    // The unit a transfer that visits the units in turn is at; all zero
    // for one transfer for all units.
    struct Unit {
        std::uint8_t uid = 0;
        int position = 0;  // 1-based
        int count = 0;
        bool any() const { return count != 0; }
        bool operator==(const Unit&) const = default;
    };
    struct Report {
        std::uint64_t done = 0;
        std::uint64_t total = 0;
        ProgressPhase phase = ProgressPhase::Erase;
        Unit unit;
        std::uint64_t count = 0;  // reports made so far
    };
    std::mutex report_mutex_;  // held only to copy a Report; never while calling out
    Report report_;
    Unit current_unit_;  // set by begin_unit(), stamped on each report

    // tick()'s own.
    std::uint64_t seen_reports_ = 0;
    std::optional<ProgressPhase> shown_phase_;  // none before the first report
    Unit shown_unit_;
    Clock::time_point phase_start_{};
    std::uint64_t phase_start_done_ = 0;
    Clock::time_point last_line_{};
    std::string last_text_;
    bool shown_end_ = false;  // this phase's last line is out
    Clock::time_point unit_start_{};
    double last_unit_seconds_ = 0;  // how long the previous unit took; 0 = none yet
    bool drawn_ = false;
};

}  // namespace vk61::cli
