// How an operation ended. The worker's result says it (failure_key); the
// engine's own log tells the story for people: the line that ends the
// worker's run (the "failure line") and the first line that says why.
#pragma once

#include <string>
#include <vector>

#include "operation_result.h"
#include "transfer_payload.h"

namespace soak {

struct Outcome {
    bool success = false;
    // The worker's last line ("write_fw_image: failed", "upload_airport_db:
    // close DB not acknowledged", ...) with its numbers replaced by '#';
    // empty when the log holds none, which counts as an unclassified end.
    std::string terminal_line;
    // The first line of the manager's flash operations that reports a refusal,
    // a mismatch or a failed wait, normalised the same way; may be empty.
    std::string cause_line;
    // Airport uploads: the units the log says opened the new database
    // ("complete on UID"), those that dropped out of an upload to every
    // unit at once, and whether one failure stopped every unit.
    std::vector<unsigned> completed;
    std::vector<unsigned> dropped;
    bool stopped_all = false;
};

Outcome classify_outcome(TransferKind kind, bool success, const std::vector<std::string>& lines);

// The report's key of a failed result: "step: reason" without the unit
// ("erase: timed out"); empty when the result is no failure, so a worker
// that failed without saying where counts as unclassified.
std::string failure_key(const vk61::OperationResult& result);

// Whether the worker may have written the header before it failed: it
// failed at the header's own steps.
bool header_step_reached(const vk61::OperationResult& result);

// Drops the line end and replaces every number by '#' (hex numbers by
// "0x#"), except the values of complete= and failed=, which tell a timed-out
// wait from a refusal.
std::string normalise_line(const std::string& line);

}  // namespace soak
