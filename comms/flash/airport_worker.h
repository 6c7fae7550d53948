// The airport database transfer as the update tab runs it on its worker
// thread: upload_airport_db for each unit in turn, stopping at the first
// failure. Knows nothing of the window: the caller resets its progress
// context in on_unit_start and posts the completion from the result.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "flash/flash_types.h"
#include "operation_result.h"

namespace vk61 {

class CommsManager;

struct AirportResult {
    int units_done = 0;           // units that got the new database
    int units_total = 0;          // length of the list
    std::uint8_t failed_uid = 0;  // 0 when none failed
    bool success = false;         // units_done == units_total
    OperationResult failure;      // how the failed unit's upload ended; success when none failed
};

// Time-outs per unit; tests may shorten them.
struct AirportUploadTimeouts {
    unsigned erase_ms = 120000;  // the erase run
    unsigned write_ms = 10000;   // each echo wait of the write
};

// Called before each unit with its UID, its 1-based position and the list
// length.
using AirportUnitStart = std::function<void(std::uint8_t uid, int position, int total)>;

// Blocks the calling thread until every unit is done or one failed; each unit
// takes at most its close and open acknowledgement waits (5000 ms each), the
// erase run (timeouts.erase_ms) and the echo waits of the write
// (timeouts.write_ms each). Units after the first failure are not tried.
// Every unit receives the bytes of database: nothing is read per unit.
AirportResult run_airport_upload(CommsManager& comms, const std::vector<std::uint8_t>& database,
                                 const std::vector<std::uint8_t>& uids, const AirportUnitStart& on_unit_start,
                                 ProgressFn progress, const void* progress_user,
                                 const AirportUploadTimeouts& timeouts = {});

// The same, reading the file once first; a file that cannot be read or sent
// fails the first unit, none done.
AirportResult run_airport_upload(CommsManager& comms, const std::string& path, const std::vector<std::uint8_t>& uids,
                                 const AirportUnitStart& on_unit_start, ProgressFn progress,
                                 const void* progress_user, const AirportUploadTimeouts& timeouts = {});

}  // namespace vk61
