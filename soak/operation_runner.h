// Runs one transfer the way the update tab does, on a worker thread of its
// own, under a watchdog, with an optional second thread that disturbs it (a
// reboot, a disconnect) at a chosen moment.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <QString>

#include "comms_manager.h"
#include "device_info.h"
#include "transfer/airport_worker.h"
#include "operation_result.h"
#include "progress_probe.h"
#include "transfer_payload.h"

namespace soak {

// Time-outs handed to the workers (the database acknowledgements keep their
// fixed 5000 ms).
struct TransferTimeouts {
    unsigned prepare_ms = 500;
    unsigned erase_ms = 3000;  // the whole erase run
    unsigned write_ms = 500;   // each echo
};

// What a second thread does `after` the operation started, unless it has
// already returned.
struct Interference {
    std::chrono::milliseconds after{0};
    std::function<void()> action;
};

// An airport upload as the front ends run it (run_airport_job): to every unit
// at once or one after another, keeping the resume record at record_path, or
// resumed from where the record says each unit stands.
struct AirportRequest {
    std::vector<vk61::DeviceInfo> units;  // in upload order
    bool one_at_a_time = false;
    std::vector<vk61::AirportUnitProgress> resume_from;  // empty: a fresh upload
    QString record_path;
};

struct OperationRun {
    bool returned = false;         // false: the watchdog fired and the worker is still inside the engine
    bool success = false;          // the worker's own word: on_success called, or every unit done
    vk61::OperationResult result;  // the worker's result; for an airport upload the failed unit's
    std::chrono::milliseconds took{0};
    vk61::AirportResult airport;  // airport uploads
    bool interfered = false;      // the second thread acted
};

// The digest the resume record keys an upload by (64 lower-case hex digits).
QString sha256_hex(const std::vector<std::uint8_t>& bytes);

class OperationRunner {
public:
    OperationRunner(vk61::CommsManager& comms, TransferTimeouts timeouts);

    // Blocks until the worker returns or watchdog passes. When the watchdog
    // fires, the worker (and the second thread) are left running, detached:
    // the caller reports the hang and ends the process, since a thread stuck
    // inside the engine can be neither joined nor stopped. An airport upload
    // with a request goes through run_airport_job (the file read once, its
    // digest for the record); without one through run_airport_upload.
    OperationRun run(TransferKind kind, const std::string& path, const std::vector<std::uint8_t>& uids,
                     const std::optional<Interference>& interference, std::chrono::milliseconds watchdog,
                     const std::optional<AirportRequest>& airport = std::nullopt);

    const ProgressProbe& progress() const { return progress_; }

private:
    vk61::CommsManager& comms_;
    TransferTimeouts timeouts_;
    ProgressProbe progress_;
};

}  // namespace soak
