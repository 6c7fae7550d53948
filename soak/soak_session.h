// One soak run: a fault-free baseline that measures how long transfers take,
// then the operations with their faults, each followed by the checks that the
// engine is ready again and the flash holds what it should, and at the end a
// disconnect in the middle of a transfer.
#pragma once

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include <QString>

#include "device_info.h"
#include "engine_log.h"
#include "fault_planner.h"
#include "operation_runner.h"
#include "operation_trace.h"
#include "outcome.h"
#include "soak_options.h"
#include "soak_random.h"
#include "soak_report.h"
#include "soak_rig.h"
#include "stall_monitor.h"

namespace soak {

class SoakSession {
public:
    SoakSession(const SoakOptions& options, std::FILE* out);
    ~SoakSession();  // removes the scratch directory
    SoakSession(const SoakSession&) = delete;
    SoakSession& operator=(const SoakSession&) = delete;

    // Runs everything and prints the summary. Returns the exit code: 0 when
    // every invariant held, 1 when one broke, 2 when the set-up or the
    // baseline failed. A hang or an engine that never recovers ends the
    // process from inside (exit code 3) after printing what is known.
    int run();

private:
    using Clock = std::chrono::steady_clock;

    // Milliseconds per write chunk measured by the baseline.
    struct Pace {
        double firmware_ms_per_chunk = 1.0;  // one broadcast chunk, echoed by every unit
        double airport_ms_per_chunk = 1.0;   // one chunk to one unit
    };

    bool run_baseline(std::string* problem);
    void run_operation(unsigned index);
    void check_disconnect_during_transfer();

    Transfer make_transfer(TransferKind kind);
    std::string write_file(const Transfer& transfer) const;
    // How long the transfer takes without faults.
    std::chrono::milliseconds expected_duration(const Transfer& transfer) const;
    // What the time-outs allow: three times the expected duration, the
    // longest single wait that may expire (one expiry ends the operation), the
    // delays the faults add, and a margin for a loaded machine.
    std::chrono::milliseconds time_out_bound(const Transfer& transfer, const std::vector<PlannedFault>& faults) const;
    std::optional<Interference> reboot_interference(const std::vector<PlannedFault>& faults);
    // Checks the flash after the operation; records breaches and observations.
    void check_flash(unsigned index, const Transfer& transfer, bool success, const vk61::OperationResult& result,
                     const std::vector<std::string>& lines);
    // Brings the link and units back and checks the engine answers a setting
    // read; ends the process when the engine does not come back at all.
    void check_ready(unsigned index, std::chrono::milliseconds reboot_duration,
                     const std::vector<PlannedFault>& faults);
    // Whether the process was held off the CPU long enough since the last
    // reset of the stall monitor to explain an expired short time-out.
    bool starved() const;

    // The units of the installation as the engine knows them, in UID order:
    // what an airport job records and a resume is checked against.
    std::vector<vk61::DeviceInfo> airport_units();
    QString record_path() const;
    // What the airport result says of each unit against what it holds: a unit
    // said to hold the database has it, open; a unit that failed before its
    // open command never got one (the host frames since the operation began);
    // the log's "complete on UID" lines name exactly the units that opened
    // it in this run (already_done: units a resume found done).
    void check_airport_units(unsigned index, const Transfer& transfer, const OperationRun& run, const Outcome& outcome,
                             const std::vector<std::uint8_t>& already_done);
    // After a failed airport upload: asks the record whether the upload can
    // go on and, when it can, resumes it (every unit at once) with faults of
    // its own, then checks that no confirmed block was erased again and no
    // unit had more than one chunk written again. Returns whether its faults
    // rebooted the units.
    bool resume_airport_upload(unsigned index, const Transfer& transfer, const std::vector<vk61::DeviceInfo>& units);

    // For a fault-free operation that failed or ran long: the longest pause
    // between two engine lines, with the lines and host frames around it.
    void print_longest_silence(unsigned index) const;

    // Starts an operation: forgets the engine's lines and the bus frames of
    // the one before.
    void begin_operation();
    // After an operation that raised the report's breach count: writes its
    // bus trace to the trace folder and names the file (or the reason there
    // is none) in the report.
    void keep_trace(unsigned index);

    [[noreturn]] void abort_run(unsigned index, const char* why, const std::vector<PlannedFault>& faults);

    SoakOptions options_;
    std::FILE* out_;
    SoakRandom random_;
    EngineLog log_;         // before the rig: its sink sees every line of the engine's life
    OperationTrace trace_;  // before the rig: the engine records into it until it is gone
    SoakRig rig_;
    OperationRunner runner_;
    FaultPlanner planner_;
    SoakReport report_;
    std::filesystem::path dir_;
    Pace pace_;
    StallMonitor stalls_;
    // Until then a reply delayed by the previous operation's faults may still
    // arrive.
    Clock::time_point late_replies_until_{};
};

}  // namespace soak
