// The soak's figures: what was injected, how each operation ended, and every
// breach of the soak's invariants, printed as one summary at the end.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "fault_planner.h"
#include "transfer_payload.h"

namespace soak {

// One breach of an invariant, with the operation it happened in.
struct Breach {
    unsigned operation = 0;
    std::string what;
};

class SoakReport {
public:
    // Counts of one operation kind.
    struct KindFigures {
        unsigned operations = 0;
        unsigned successes = 0;
        std::vector<double> seconds;   // every operation's duration
        double worst_bound_share = 0;  // largest duration / its time-out bound
    };

    void add_operation(TransferKind kind, unsigned faults, bool success, std::chrono::milliseconds took,
                       std::chrono::milliseconds bound);
    void add_fault(SoakFaultKind kind) { ++faults_[static_cast<std::size_t>(kind)]; }
    void add_sim_faults(unsigned armed, unsigned spent) {
        sim_faults_ += armed;
        sim_faults_spent_ += spent;
    }
    void add_reboot_sent() { ++reboots_sent_; }
    // A failure by its result's key (outcome.h) and the first cause line of
    // the engine's log, which says more (which address, which status).
    void add_failure(const std::string& result_key, const std::string& cause_line);
    // A fault-free operation; carry_over: late replies of the previous one
    // may have reached it; starved: the process was held off the CPU.
    void add_fault_free(bool success, bool carry_over, bool starved);
    // The longest time the process was held off the CPU during an
    // operation; starved: long enough to count.
    void add_stall(std::chrono::milliseconds stall, bool starved);
    void add_moved_success() { ++moved_successes_; }
    // Airport uploads: how each was run, and the resumes drawn after one
    // that failed (offered: the record was there and resumable).
    void add_airport_upload(bool together) { ++(together ? together_uploads_ : single_uploads_); }
    void add_resume(bool offered, bool ran, bool success) {
        ++resumes_drawn_;
        resumes_offered_ += offered;
        resumes_run_ += ran;
        resumes_succeeded_ += success;
    }

    // Invariant breaches; any of them fails the soak.
    void add_hang(unsigned op, std::string what) { hangs_.push_back({op, std::move(what)}); }
    void add_overrun(unsigned op, std::string what) { overruns_.push_back({op, std::move(what)}); }
    void add_unclassified(unsigned op, std::string what) { unclassified_.push_back({op, std::move(what)}); }
    void add_not_ready(unsigned op, std::string what) { not_ready_.push_back({op, std::move(what)}); }
    // Observations that are no breach: a first setting read that timed out
    // while the process was starved and answered on the second try, an
    // operation that outlasted its bound or failed without a fault while
    // starved.
    void add_excused(unsigned op, std::string what) { excused_.push_back({op, std::move(what)}); }
    void add_unerased(unsigned op, std::string what) { unerased_.push_back({op, std::move(what)}); }
    void add_content(unsigned op, std::string what) { content_.push_back({op, std::move(what)}); }
    void add_partial_targets(unsigned op, std::string what) { partial_.push_back({op, std::move(what)}); }
    void add_open_db_write(unsigned op, std::string what) { open_db_.push_back({op, std::move(what)}); }
    // A unit the result says holds the database whose flash differs, a unit
    // that failed yet got the open command, a result the log contradicts.
    void add_unit_outcome(unsigned op, std::string what) { unit_outcomes_.push_back({op, std::move(what)}); }
    // A resume that erased a confirmed block, wrote more than one chunk of a
    // unit again, or was not offered for the upload it followed.
    void add_resume_breach(unsigned op, std::string what) { resume_breaches_.push_back({op, std::move(what)}); }
    void add_progress(std::uint64_t calls, std::uint64_t bad, std::uint64_t late);
    void add_shutdown(bool returned, std::chrono::milliseconds after_disconnect);
    void set_final_unerased(std::size_t bytes) { final_unerased_ = bytes; }
    void set_total_time(std::chrono::milliseconds total) { total_time_ = total; }

    // Breaches so far, of every invariant: an operation that raised it broke
    // a check.
    std::size_t breach_count() const;
    // The bus trace an operation that broke a check left (its path), or why
    // none could be written.
    void add_trace(unsigned op, std::string where) { traces_.push_back({op, std::move(where)}); }

    bool passed() const;
    void print(std::FILE* out) const;

private:
    static void print_breaches(std::FILE* out, const char* title, const std::vector<Breach>& breaches);

    std::map<TransferKind, KindFigures> kinds_;
    std::array<unsigned, 8> by_fault_count_{};
    std::array<unsigned, kSoakFaultKinds> faults_{};
    unsigned sim_faults_ = 0;
    unsigned sim_faults_spent_ = 0;
    unsigned reboots_sent_ = 0;
    std::map<std::string, unsigned> failure_keys_;
    std::map<std::string, unsigned> cause_lines_;
    unsigned fault_free_ = 0;
    unsigned fault_free_successes_ = 0;
    unsigned fault_free_carry_over_ = 0;
    unsigned fault_free_clean_failures_ = 0;  // no fault, no late reply of the previous op, no stall
    unsigned fault_free_starved_failures_ = 0;
    unsigned stalled_operations_ = 0;
    std::chrono::milliseconds longest_stall_{0};
    unsigned moved_successes_ = 0;
    std::vector<Breach> hangs_, overruns_, unclassified_, not_ready_, unerased_, content_, partial_, open_db_;
    std::vector<Breach> unit_outcomes_, resume_breaches_;
    unsigned together_uploads_ = 0;
    unsigned single_uploads_ = 0;
    unsigned resumes_drawn_ = 0;
    unsigned resumes_offered_ = 0;
    unsigned resumes_run_ = 0;
    unsigned resumes_succeeded_ = 0;
    std::vector<Breach> excused_;
    std::vector<Breach> traces_;
    std::uint64_t progress_calls_ = 0;
    std::uint64_t progress_bad_ = 0;
    std::uint64_t progress_late_ = 0;
    bool shutdown_checked_ = false;
    bool shutdown_returned_ = false;
    std::chrono::milliseconds shutdown_after_{0};
    std::size_t final_unerased_ = 0;
    std::chrono::milliseconds total_time_{0};
};

}  // namespace soak
