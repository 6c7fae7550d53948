#include "transfer/airport_worker.h"

#include "comms_manager.h"
#include "flash/airport_file.h"
#include "transfer/airport_progress.h"

namespace vk61 {

AirportResult run_airport_upload(CommsManager& comms, const std::string& path, const std::vector<std::uint8_t>& uids,
                                 const AirportUnitStart& on_unit_start, const ProgressCallback& progress,
                                 const AirportUploadTimeouts& timeouts) {
    std::vector<std::uint8_t> database;
    const OperationResult read = read_airport_database(path.c_str(), &database);
    if (read || uids.empty()) {
        return run_airport_upload(comms, database, uids, on_unit_start, progress, timeouts);
    }
    AirportResult result;
    result.units_total = static_cast<int>(uids.size());
    result.failed_uid = uids.front();
    result.failure = OperationResult::failure(read.step, read.reason, uids.front());
    for (const std::uint8_t uid : uids) result.units.push_back({uid, false, {}});
    result.units.front().failure = result.failure;
    if (on_unit_start) on_unit_start(uids.front(), 1, result.units_total);
    return result;
}

AirportResult run_airport_upload(CommsManager& comms, const std::vector<std::uint8_t>& database,
                                 const std::vector<std::uint8_t>& uids, const AirportUnitStart& on_unit_start,
                                 const ProgressCallback& progress, const AirportUploadTimeouts& timeouts,
                                 const AirportProgressSaved& on_confirmed) {
    AirportResult result;
    result.units_total = static_cast<int>(uids.size());
    std::vector<AirportUnitProgress> ledger;
    for (const std::uint8_t uid : uids) {
        result.units.push_back({uid, false, {}});
        ledger.push_back({uid, {}, 0, false});
    }
    for (std::size_t i = 0; i < uids.size(); ++i) {
        const std::uint8_t uid = uids[i];
        if (on_unit_start) on_unit_start(uid, static_cast<int>(i) + 1, result.units_total);
        FlashConfirmed confirmed;
        const OperationResult unit = comms.upload_airport_db(uid, database.data(), database.size(), timeouts.erase_ms,
                                                             timeouts.write_ms, progress, &confirmed);
        take_confirmed(confirmed, ledger);
        ledger[i].done = unit.ok();
        if (on_confirmed) on_confirmed(ledger);
        if (!unit) {
            result.failed_uid = uid;
            result.failure = unit;
            result.units[i].failure = unit;
            break;
        }
        result.units[i].holds_new = true;
        ++result.units_done;
    }
    return result;
}

namespace {

std::string uid_list(const std::vector<std::uint8_t>& uids) {
    std::string text;
    for (const std::uint8_t uid : uids) text += (text.empty() ? "" : ", ") + std::to_string(uid);
    return text;
}

}  // namespace

std::string describe(const AirportResult& result) {
    std::vector<std::uint8_t> holding;
    std::vector<std::uint8_t> missing;
    std::string why;
    for (const AirportUnitOutcome& unit : result.units) {
        (unit.holds_new ? holding : missing).push_back(unit.uid);
        if (!unit.holds_new && why.empty() && !unit.failure.ok()) why = describe(unit.failure);
    }
    const std::string reason = why.empty() ? std::string() : " (" + why + ")";
    if (holding.empty()) return "No unit holds the new airport database" + reason;
    std::string text =
        "UID " + uid_list(holding) + (holding.size() == 1 ? " holds" : " hold") + " the new airport database";
    if (!missing.empty()) {
        text += "; UID " + uid_list(missing) + (missing.size() == 1 ? " does not" : " do not") + reason;
    }
    return text;
}

}  // namespace vk61
