// How an operation ended, read from the engine's own log: the line that ends
// the worker's run (the "failure line") and the first line that says why.
#pragma once

#include <string>
#include <vector>

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
};

Outcome classify_outcome(TransferKind kind, bool success, const std::vector<std::string>& lines);

// Drops the line end and replaces every number by '#' (hex numbers by
// "0x#"), except the values of complete= and failed=, which tell a timed-out
// wait from a refusal.
std::string normalise_line(const std::string& line);

}  // namespace soak
