// Command line of vk61-fault-soak.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "fault_planner.h"
#include "operation_runner.h"
#include "transfer_payload.h"

namespace soak {

struct SoakOptions {
    unsigned operations = 600;
    unsigned settings_operations = 200;  // loads, edits, updates and saves after the transfers
    std::uint64_t seed = 1;
    unsigned units = 3;
    unsigned max_faults = 3;           // each operation gets 0..max_faults
    std::vector<SoakFaultKind> kinds;  // drawn from; empty: all
    TransferSizes sizes;
    unsigned latency_us = 200;  // of every simulated reply
    TransferTimeouts timeouts;
    std::string engine_log = "/dev/null";  // where the engine's own lines go
    bool quiet = false;                    // no line per operation
    std::string trace_dir = ".";           // where an operation that breaks a check leaves its bus trace
};

// Parses argv; on a usage error returns nothing and sets *error (the usage
// text for --help, with *help set).
std::optional<SoakOptions> parse_soak_options(int argc, char** argv, std::string* error, bool* help);

}  // namespace soak
