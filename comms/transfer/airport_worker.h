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

// How far one unit got with the new airport database, as its answers
// confirmed: what an interrupted upload resumes from.
struct AirportUnitProgress {
    std::uint8_t uid = 0;
    std::vector<std::uint16_t> erased;  // blocks reported erased, ascending
    std::uint32_t written = 0;          // bytes from address 0 whose echoes came back
    bool done = false;                  // opened its database after a complete write
};

// One unit's end of an upload.
struct AirportUnitOutcome {
    std::uint8_t uid = 0;
    bool holds_new = false;   // the unit opened the new database
    OperationResult failure;  // why not; success when it holds it or was not reached
};

struct AirportResult {
    int units_done = 0;                     // units that got the new database
    int units_total = 0;                    // length of the list
    std::uint8_t failed_uid = 0;            // 0 when none failed
    OperationResult failure;                // how the failed unit's upload ended; success when none failed
    std::vector<AirportUnitOutcome> units;  // every unit of the list, in its order

    // Every unit of the list got the new database.
    bool ok() const { return units_done == units_total && failure.ok(); }
};

// Which units hold the new database and which do not, by UID: "UID 1, 3 hold
// the new airport database; UID 2 does not (write failed on UID 2: refused by
// the unit)", or "No unit holds the new airport database (...)".
std::string describe(const AirportResult& result);

// Called whenever what the units confirmed changed, from the transfer's
// thread, with every unit's progress; the caller keeps it to resume from.
using AirportProgressSaved = std::function<void(const std::vector<AirportUnitProgress>&)>;

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
                                 const ProgressCallback& progress, const AirportUploadTimeouts& timeouts = {},
                                 const AirportProgressSaved& on_confirmed = {});

// The database to every unit at once: each unit's database closed, one erase
// run over every unit's blocks, each chunk sent once to all units (UID 0) and
// echoed by each, then each database opened. `units` says where each unit
// starts: nothing confirmed for a fresh upload, or what an interrupted one
// reached (only blocks not confirmed erased are erased, the write starts at
// the confirmed offset, a unit already done is left alone).
//
// A unit that refuses, echoes wrongly or stops answering drops out and gets
// no open command; the others carry on. Chunks go to all units at once only
// while every unit of the list takes part with an address this upload set:
// once one has dropped out (or was done before), the others are written one
// after another with chunks addressed to them, so nothing reaches a unit at
// an address nobody set. A lost link, disconnect() or a refused send stops
// every unit. Blocks the calling thread; the waits are those of
// run_airport_upload.
AirportResult run_airport_upload_together(CommsManager& comms, const std::vector<std::uint8_t>& database,
                                          std::vector<AirportUnitProgress> units, const ProgressCallback& progress,
                                          const AirportUploadTimeouts& timeouts = {},
                                          const AirportProgressSaved& on_confirmed = {});

// The same, reading the file once first; a file that cannot be read or sent
// fails the first unit, none done.
AirportResult run_airport_upload(CommsManager& comms, const std::string& path, const std::vector<std::uint8_t>& uids,
                                 const AirportUnitStart& on_unit_start, const ProgressCallback& progress,
                                 const AirportUploadTimeouts& timeouts = {});

}  // namespace vk61
