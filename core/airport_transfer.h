// The airport-database upload as both front ends run it on their transfer
// thread: to every unit at once (the default with more than one unit), one
// unit after another (when asked, and always for a single unit), or resumed
// from the record of an upload that did not finish. While it runs, what the
// units confirmed is kept in the record (airport_resume.h); the record goes
// once every unit holds the database.
#pragma once

#include <QString>

#include <memory>
#include <vector>

#include "core/airport_resume.h"
#include "device_info.h"
#include "transfer/airport_worker.h"

namespace vk61 {

class CommsManager;

struct AirportJob {
    std::shared_ptr<const std::vector<std::uint8_t>> database;  // read once, never null
    QString sha256;                                             // of database
    std::vector<DeviceInfo> units;                              // in upload order
    bool one_at_a_time = false;                                 // each unit in turn, stopping at the first failure
    // Where each unit stands when resuming (one per unit, same order); empty
    // for a fresh upload.
    std::vector<AirportUnitProgress> resume_from;
    QString record_path;  // empty: no record is kept
    AirportUploadTimeouts timeouts;
};

struct AirportJobResult {
    AirportResult result;
    AirportRecordResult record;  // the first write of the record that failed; the upload went on

    // Every unit of the job holds the new database.
    bool ok() const { return result.ok(); }
};

// The units' outcome as describe(AirportResult) gives it; a record that could
// not be written is the caller's warning, not part of it.
QString describe(const AirportJobResult& job);

// Blocks the calling thread for the whole upload (see airport_worker.h for
// the waits). on_unit_start runs before each unit of a one-at-a-time upload.
AirportJobResult run_airport_job(CommsManager& comms, const AirportJob& job, const AirportUnitStart& on_unit_start,
                                 const ProgressCallback& progress);

}  // namespace vk61
