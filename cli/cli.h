// The command-line tool as a function: parses the arguments, runs one
// command against the units and returns its exit code. The two executables
// (product and demo) and the tests all call run_cli; nothing here knows which
// hidapi the process links.
#pragma once

#include <QString>

#include <atomic>
#include <chrono>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "core/config_timeouts.h"
#include "core/reboot_wait.h"
#include "downloads/download_settings.h"
#include "transfer/airport_worker.h"
#include "transfer/firmware_worker.h"

namespace vk61::cli {

// Product timings; tests shorten some of them.
struct CliTimings {
    // Discovery ends once every unit that answered has identified itself and
    // nothing new was heard for discovery_quiet, and at discovery_limit.
    std::chrono::milliseconds discovery_limit{2000};
    std::chrono::milliseconds discovery_quiet{300};
    // reboot --wait: the window's checks.
    RebootWaitTimings reboot;
    // Progress without a terminal: one line this often.
    std::chrono::milliseconds progress_line_interval{3000};
    ConfigTimeouts config;
    FirmwareUpdateTimeouts firmware;
    AirportUploadTimeouts airports;
};

struct CliEnvironment {
    std::string program = "vk61-efis-cli";
    // Whether standard error is a terminal (progress bar) or not (plain
    // lines); unset: asks isatty(2).
    std::optional<bool> progress_terminal;
    // Set (by a SIGINT handler) to stop a running command: the bus is
    // disconnected at once and the command fails.
    const std::atomic<bool>* interrupted = nullptr;
    // Folder of the automatic backups; empty: BackupStore::default_root().
    QString backup_root;
    CliTimings timings;
    // Manifest URL, fetch time-out and application folder; the product's by
    // default, the demo's server in the demo build.
    DownloadSettings downloads;
};

// Runs the command that args names (args excludes the program name). Results
// go to out, messages and progress to err.
int run_cli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, const CliEnvironment& env = {});

}  // namespace vk61::cli
