#include "progress_display.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "flash/flash_types.h"

namespace vk61::cli {

namespace {

constexpr int kBarWidth = 24;

std::string formatted(const char* format, auto... args) {
    char buffer[160];
    std::snprintf(buffer, sizeof buffer, format, args...);
    return buffer;
}

std::string duration_text(double seconds) {
    if (!std::isfinite(seconds) || seconds < 0) return "--:--";
    const auto whole = static_cast<long long>(seconds + 0.5);
    return formatted("%lld:%02lld", whole / 60, whole % 60);
}

std::string rate_text(double per_second, bool erase) {
    if (erase) return formatted("%.1f blocks/s", per_second);
    if (per_second >= 1024.0 * 1024.0) return formatted("%.1f MiB/s", per_second / (1024.0 * 1024.0));
    return formatted("%.1f KiB/s", per_second / 1024.0);
}

}  // namespace

ProgressDisplay::ProgressDisplay(std::ostream& err, bool terminal, std::chrono::milliseconds line_interval)
    : err_(err), terminal_(terminal), line_interval_(line_interval) {}

void ProgressDisplay::record(std::uint64_t done, std::uint64_t total, ProgressPhase phase) {
    const std::lock_guard lock(report_mutex_);
    report_.done = done;
    report_.total = total;
    report_.phase = phase;
    report_.unit = current_unit_;
    ++report_.count;
}

void ProgressDisplay::begin_unit(std::uint8_t uid, int position, int count) {
    // Reports made from now on belong to this unit; the last report of the
    // unit before keeps its own, however late tick() reads it.
    const std::lock_guard lock(report_mutex_);
    current_unit_ = Unit{uid, position, count};
}

std::string ProgressDisplay::describe(std::uint64_t done, std::uint64_t total, ProgressPhase phase, double rate,
                                      double seconds_left) {
    const bool erase = phase == ProgressPhase::Erase;
    const double percent = total == 0 ? 0.0 : 100.0 * static_cast<double>(done) / static_cast<double>(total);
    std::string text = formatted("%-8s %3.0f%%  ", erase ? "Erasing" : "Writing", std::floor(percent));
    if (erase) {
        text += formatted("%llu / %llu blocks", static_cast<unsigned long long>(done),
                          static_cast<unsigned long long>(total));
    } else {
        const auto chunks = [](std::uint64_t bytes) { return (bytes + kFlashChunkSize - 1) / kFlashChunkSize; };
        // One packet is one write chunk of up to 64 bytes; "blocks" are the
        // 64 KiB erase blocks of the phase before.
        text += formatted("%llu / %llu bytes, %llu / %llu packets", static_cast<unsigned long long>(done),
                          static_cast<unsigned long long>(total), static_cast<unsigned long long>(chunks(done)),
                          static_cast<unsigned long long>(chunks(total)));
    }
    // Finished: the phase's average rate, when one was measured, and no
    // time left to guess.
    if (total != 0 && done >= total) {
        if (rate > 0) text += "  " + rate_text(rate, erase);
        return text + "  done";
    }
    text += "  " + rate_text(rate, erase) + "  " + duration_text(seconds_left) + " left";
    return text;
}

void ProgressDisplay::tick() {
    Report report;
    {
        const std::lock_guard lock(report_mutex_);
        report = report_;
    }
    if (report.count == seen_reports_) return;
    seen_reports_ = report.count;
    const std::uint64_t done = report.done;
    const std::uint64_t total = report.total;
    const ProgressPhase phase = report.phase;
    const Unit unit = report.unit;
    const auto now = Clock::now();

    const bool new_phase = phase != shown_phase_ || unit != shown_unit_;
    if (unit != shown_unit_) {
        // A unit's whole time (erase and write) estimates each unit after it.
        if (shown_unit_.any()) last_unit_seconds_ = std::chrono::duration<double>(now - unit_start_).count();
        unit_start_ = now;
    }
    if (new_phase) {
        shown_phase_ = phase;
        shown_unit_ = unit;
        phase_start_ = now;
        phase_start_done_ = done;
        shown_end_ = false;
    }
    const double elapsed = std::chrono::duration<double>(now - phase_start_).count();
    const double moved = static_cast<double>(done - std::min(done, phase_start_done_));
    // A rate is trusted after 0.2 s, or at the end of the phase, whatever it took.
    const double rate = elapsed > 0.2 || (done >= total && elapsed > 0) ? moved / elapsed : 0.0;
    double left = rate > 0 ? static_cast<double>(total - std::min(total, done)) / rate : NAN;
    // A transfer that visits the units in turn has the units after this one
    // to go as well: each as long as the last one took, or, for the first,
    // as long as this one is taking.
    const int position = unit.position;
    const int count = unit.count;
    if (unit.any() && count > position && std::isfinite(left)) {
        const double per_unit = last_unit_seconds_ > 0
                                    ? last_unit_seconds_
                                    : std::chrono::duration<double>(now - unit_start_).count() + left;
        left += per_unit * (count - position);
    }

    std::string prefix;
    if (unit.any()) {
        prefix = formatted("Unit %d / %d (UID %u): ", position, count, static_cast<unsigned>(unit.uid));
    }
    const std::string text = prefix + describe(done, total, phase, rate, left);

    if (terminal_) {
        const double fraction =
            total == 0 ? 0.0 : std::min(1.0, static_cast<double>(done) / static_cast<double>(total));
        const int filled = static_cast<int>(fraction * kBarWidth);
        const std::string bar = "[" + std::string(static_cast<std::size_t>(filled), '#') +
                                std::string(static_cast<std::size_t>(kBarWidth - filled), '-') + "] ";
        if (new_phase && drawn_) err_ << '\n';
        // Carriage return and erase-to-end-of-line: the bar is redrawn in place.
        err_ << '\r' << bar << text << "\x1b[K" << std::flush;
        drawn_ = true;
        return;
    }
    // The end of a phase is shown once: a last report repeated later works
    // out a rate of its own, so comparing texts does not catch it.
    const bool end = done == total;
    if (end && shown_end_) return;
    if ((new_phase || end || now - last_line_ >= line_interval_) && text != last_text_) {
        err_ << text << '\n' << std::flush;
        last_line_ = now;
        last_text_ = text;
        shown_end_ = end;
    }
}

void ProgressDisplay::finish() {
    // Show the last report, then leave the bar's line.
    tick();
    if (terminal_ && drawn_) err_ << '\n' << std::flush;
    drawn_ = false;
}

}  // namespace vk61::cli
