// The record of an airport-database upload that has not finished, so that one
// cut short (a pulled cable, a unit that failed, a closed tool) can go on where
// the units' confirmations left it: per unit, the blocks it reported erased
// and how far its write echoes reached.
//
// The record is one small JSON file in the application's data folder, keyed by
// the database's SHA-256 and the units (UID and serial number). It is written
// while an upload runs and removed when every unit holds the database. An
// upload of the same file to the same units may resume from it; another file,
// other units or a record that cannot be read mean a fresh upload, and the
// offer says which.
#pragma once

#include <QString>

#include <cstdint>
#include <vector>

#include "device_info.h"
#include "transfer/airport_worker.h"

namespace vk61 {

// Where the window and the command-line tool keep the record.
QString airport_record_path();

// One upload: the database it sends and where each unit stands.
struct AirportUploadRecord {
    QString sha256;                             // 64 lower-case hex digits
    std::uint64_t size = 0;                     // bytes of the database
    std::vector<DeviceInfo> units;              // in upload order
    std::vector<AirportUnitProgress> progress;  // one per unit, same order
};

enum class ResumeVerdict {
    Fresh,       // no record: nothing to resume
    Resumable,   // same file, same units: offer to resume
    OtherFile,   // the record is of another database
    OtherUnits,  // the record is of other units
    Unreadable,  // the record could not be read or makes no sense
};

struct ResumeOffer {
    ResumeVerdict verdict = ResumeVerdict::Fresh;
    std::vector<AirportUnitProgress> progress;  // Resumable: where each unit of `units` stands
    QString text;                               // for people; empty for Fresh
};

// Looks at the record at path for an upload of the database with this digest
// and size to these units. Reads at most a few hundred KiB.
ResumeOffer check_airport_resume(const QString& path, const QString& sha256, std::uint64_t size,
                                 const std::vector<DeviceInfo>& units);

enum class RecordWriteStatus { Written, WriteFailed };

// How a write of the record ended.
struct AirportRecordResult {
    RecordWriteStatus status = RecordWriteStatus::Written;
    QString detail;  // WriteFailed: the writer's "Could not write <path>: <why>"

    bool ok() const { return status == RecordWriteStatus::Written; }
};

// WriteFailed: the writer's reason; otherwise "Upload record written".
QString describe(const AirportRecordResult& result);

// Writes the record whole or not at all.
AirportRecordResult save_airport_record(const QString& path, const AirportUploadRecord& record);

// Removes the record; a missing one is no error.
void remove_airport_record(const QString& path);

}  // namespace vk61
