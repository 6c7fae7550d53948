#include "soak_report.h"

#include <algorithm>
#include <initializer_list>
#include <numeric>

namespace soak {

namespace {
constexpr std::size_t kBreachesShown = 12;

double median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}
}  // namespace

void SoakReport::add_operation(TransferKind kind, unsigned faults, bool success, std::chrono::milliseconds took,
                               std::chrono::milliseconds bound) {
    KindFigures& k = kinds_[kind];
    ++k.operations;
    if (success) ++k.successes;
    k.seconds.push_back(static_cast<double>(took.count()) / 1000.0);
    if (bound.count() > 0) {
        k.worst_bound_share = std::max(k.worst_bound_share, static_cast<double>(took.count()) / bound.count());
    }
    ++by_fault_count_[std::min<std::size_t>(faults, by_fault_count_.size() - 1)];
}

void SoakReport::add_failure(const std::string& result_key, const std::string& cause_line) {
    ++failure_keys_[result_key];
    ++cause_lines_[cause_line.empty() ? std::string("(no cause line)") : cause_line];
}

void SoakReport::add_fault_free(bool success, bool carry_over, bool starved) {
    ++fault_free_;
    if (success) ++fault_free_successes_;
    if (carry_over) ++fault_free_carry_over_;
    if (!success && !carry_over) ++(starved ? fault_free_starved_failures_ : fault_free_clean_failures_);
}

void SoakReport::add_stall(std::chrono::milliseconds stall, bool starved) {
    if (starved) ++stalled_operations_;
    longest_stall_ = std::max(longest_stall_, stall);
}

void SoakReport::add_progress(std::uint64_t calls, std::uint64_t bad, std::uint64_t late) {
    progress_calls_ = calls;
    progress_bad_ = bad;
    progress_late_ = late;
}

void SoakReport::add_shutdown(bool returned, std::chrono::milliseconds after_disconnect) {
    shutdown_checked_ = true;
    shutdown_returned_ = returned;
    shutdown_after_ = after_disconnect;
}

std::size_t SoakReport::breach_count() const {
    std::size_t n = fault_free_clean_failures_;
    for (const std::vector<Breach>* list : {&hangs_, &overruns_, &unclassified_, &not_ready_, &unerased_, &content_,
                                            &partial_, &open_db_, &unit_outcomes_, &resume_breaches_}) {
        n += list->size();
    }
    return n;
}

bool SoakReport::passed() const {
    const bool shutdown_ok = !shutdown_checked_ || (shutdown_returned_ && shutdown_after_.count() <= 1000);
    return hangs_.empty() && overruns_.empty() && unclassified_.empty() && not_ready_.empty() && unerased_.empty() &&
           content_.empty() && partial_.empty() && open_db_.empty() && unit_outcomes_.empty() &&
           resume_breaches_.empty() && final_unerased_ == 0 && fault_free_clean_failures_ == 0 && progress_bad_ == 0 &&
           progress_late_ == 0 && shutdown_ok;
}

void SoakReport::print_breaches(std::FILE* out, const char* title, const std::vector<Breach>& breaches) {
    std::fprintf(out, "  %-46s %u\n", title, static_cast<unsigned>(breaches.size()));
    for (std::size_t i = 0; i < breaches.size() && i < kBreachesShown; ++i) {
        std::fprintf(out, "      op %u: %s\n", breaches[i].operation, breaches[i].what.c_str());
    }
}

void SoakReport::print(std::FILE* out) const {
    unsigned operations = 0;
    unsigned successes = 0;
    for (const auto& [kind, k] : kinds_) {
        operations += k.operations;
        successes += k.successes;
    }
    const unsigned faulted = operations - by_fault_count_[0];
    const unsigned injected = std::accumulate(faults_.begin(), faults_.end(), 0u);

    std::fprintf(out, "\n==== fault soak summary ====\n");
    std::fprintf(out, "operations                                     %u (%u with faults)\n", operations, faulted);
    for (const auto& [kind, k] : kinds_) {
        std::fprintf(out, "  %-46s %u ops, %u succeeded, median %.2f s, max %.2f s, max %.0f%% of its bound\n",
                     transfer_kind_name(kind), k.operations, k.successes, median(k.seconds),
                     k.seconds.empty() ? 0.0 : *std::max_element(k.seconds.begin(), k.seconds.end()),
                     k.worst_bound_share * 100.0);
    }
    std::fprintf(out, "  %-46s %u together, %u one at a time\n", "airport uploads", together_uploads_, single_uploads_);
    std::fprintf(out, "  %-46s %u drawn, %u offered by the record, %u run, %u succeeded\n",
                 "resumes after a failed airport upload", resumes_drawn_, resumes_offered_, resumes_run_,
                 resumes_succeeded_);
    std::fprintf(out, "  by faults injected                             0: %u  1: %u  2: %u  3+: %u\n",
                 by_fault_count_[0], by_fault_count_[1], by_fault_count_[2],
                 std::accumulate(by_fault_count_.begin() + 3, by_fault_count_.end(), 0u));

    std::fprintf(out, "faults injected                                %u\n", injected);
    for (std::size_t i = 0; i < faults_.size(); ++i) {
        std::fprintf(out, "  %-46s %u\n", fault_kind_name(static_cast<SoakFaultKind>(i)), faults_[i]);
    }
    std::fprintf(out, "  %-46s %u of %u\n", "simulator faults used up in their operation", sim_faults_spent_,
                 sim_faults_);
    std::fprintf(out, "  %-46s %u of %u\n", "reboots sent before the operation returned", reboots_sent_,
                 faults_[static_cast<std::size_t>(SoakFaultKind::Reboot)]);

    std::fprintf(out, "outcomes\n");
    std::fprintf(out, "  %-46s %u\n", "success (flash content verified)", successes);
    std::fprintf(out, "  %-46s %u\n", "failure", operations - successes);
    std::fprintf(out, "  failures by step and reason:\n");
    for (const auto& [line, n] : failure_keys_) std::fprintf(out, "    %5u  %s\n", n, line.c_str());
    std::fprintf(out, "  first cause line of each failure:\n");
    for (const auto& [line, n] : cause_lines_) std::fprintf(out, "    %5u  %s\n", n, line.c_str());
    std::fprintf(out, "  %-46s %u, %u succeeded (%u ran while late replies of the previous op were due)\n",
                 "operations without faults", fault_free_, fault_free_successes_, fault_free_carry_over_);
    std::fprintf(out, "  %-46s %u\n", "successes at a write address from a corrupted reply", moved_successes_);
    std::fprintf(out, "  %-46s %u (longest %lld ms)\n", "ops held off the CPU >= 100 ms", stalled_operations_,
                 static_cast<long long>(longest_stall_.count()));
    std::fprintf(out, "  %-46s %u\n", "fault-free failures while held off the CPU", fault_free_starved_failures_);
    print_breaches(out, "excused by a stall (no breach)", excused_);

    std::fprintf(out, "invariants (each must be 0)\n");
    print_breaches(out, "hangs (watchdog)", hangs_);
    std::fprintf(out, "  %-46s 0 (the process completed)\n", "crashes");
    print_breaches(out, "ended later than its time-outs allow", overruns_);
    print_breaches(out, "results that name no failed step, or disagree with the worker", unclassified_);
    print_breaches(out, "engine not ready for the next operation", not_ready_);
    print_breaches(out, "operations that wrote unerased bytes", unerased_);
    std::fprintf(out, "  %-46s %zu\n", "unerased bytes written, all units, at the end", final_unerased_);
    print_breaches(out, "success with wrong flash content / early header", content_);
    print_breaches(out, "updates that left out a present unit", partial_);
    print_breaches(out, "airport writes while the database was open", open_db_);
    print_breaches(out, "airport units that differ from the result", unit_outcomes_);
    print_breaches(out, "resumes that redid confirmed work", resume_breaches_);
    std::fprintf(out, "  %-46s %u\n", "fault-free operations that failed", fault_free_clean_failures_);
    std::fprintf(out, "  %-46s %llu bad, %llu after the end (of %llu calls)\n", "progress reports",
                 static_cast<unsigned long long>(progress_bad_), static_cast<unsigned long long>(progress_late_),
                 static_cast<unsigned long long>(progress_calls_));
    if (shutdown_checked_) {
        std::fprintf(out, "  %-46s %s, %lld ms after disconnect()\n", "disconnect during a transfer",
                     shutdown_returned_ ? "returned" : "DID NOT RETURN",
                     static_cast<long long>(shutdown_after_.count()));
    }
    if (!traces_.empty()) {
        std::fprintf(out, "bus traces of the operations that broke a check\n");
        for (const Breach& trace : traces_) std::fprintf(out, "  op %u: %s\n", trace.operation, trace.what.c_str());
    }
    std::fprintf(out, "total time                                     %.1f s\n",
                 static_cast<double>(total_time_.count()) / 1000.0);
    std::fprintf(out, "RESULT: %s\n", passed() ? "PASS" : "FAIL");
    std::fflush(out);
}

}  // namespace soak
