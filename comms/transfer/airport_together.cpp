// The airport database to every unit at once, and the resumption of an
// upload that was interrupted. See run_airport_upload_together in
// airport_worker.h for the order of the steps and who carries on when a unit
// fails.
#include <algorithm>
#include <chrono>
#include <thread>

#include "comms_manager.h"
#include "debug_log.h"
#include "flash/airport_file.h"
#include "transfer/airport_progress.h"
#include "transfer/airport_worker.h"

namespace vk61 {

namespace {

// Lets the units finish closing their databases before the first erase.
constexpr auto kAfterCloseSettle = std::chrono::milliseconds(10);

// Failures of the link or the bridge rather than of one unit: nobody can
// carry on after them.
bool stops_every_unit(const OperationResult& result) {
    switch (result.reason) {
    case FailureReason::NotConnected:
    case FailureReason::LinkLost:
    case FailureReason::Disconnected:
    case FailureReason::SendFailed: return true;
    default: return result.uid == 0;
    }
}

// Rescales the write progress of one flash operation into the upload's one
// bar: done bytes `before` plus what the operation reports, out of `total`.
// Empty when the upload reports no progress.
ProgressCallback write_progress(const ProgressCallback& progress, std::uint64_t before, std::uint64_t total) {
    if (!progress) return {};
    return [&progress, before, total](std::uint64_t done, std::uint64_t, ProgressPhase phase) {
        progress(before + done, total, phase);
    };
}

class TogetherUpload {
public:
    TogetherUpload(CommsManager& comms, const std::vector<std::uint8_t>& database,
                   std::vector<AirportUnitProgress> units, const ProgressCallback& progress,
                   const AirportUploadTimeouts& timeouts, const AirportProgressSaved& on_confirmed)
        : comms_(comms),
          database_(database),
          size_(static_cast<std::uint32_t>(database.size())),
          blocks_((size_ + kFlashBlockSize - 1) / kFlashBlockSize),
          units_(std::move(units)),
          progress_(progress),
          timeouts_(timeouts),
          on_confirmed_(on_confirmed) {
        for (const AirportUnitProgress& unit : units_) outcomes_.push_back({unit.uid, unit.done, {}});
    }

    AirportResult run() {
        debug_log("airport_upload: %u bytes to %zu unit(s) at once\n", size_, units_.size());
        close_databases();
        erase();
        write();
        open_databases();
        return result();
    }

private:
    // Units still taking part: not done, not failed, nothing stopped.
    std::vector<AirportUnitProgress*> live() {
        std::vector<AirportUnitProgress*> out;
        if (stopped_) return out;
        for (std::size_t i = 0; i < units_.size(); ++i) {
            if (!units_[i].done && !!outcomes_[i].failure.ok()) out.push_back(&units_[i]);
        }
        return out;
    }
    AirportUnitOutcome& outcome(std::uint8_t uid) {
        return *std::find_if(outcomes_.begin(), outcomes_.end(), [uid](const auto& o) { return o.uid == uid; });
    }
    bool known(std::uint8_t uid) const {
        return std::any_of(units_.begin(), units_.end(), [uid](const auto& u) { return u.uid == uid; });
    }
    // Records a failure: the unit it names drops out, or every unit stops.
    // Returns false when nobody can carry on.
    bool fail(const OperationResult& result) {
        if (stops_every_unit(result) || !known(result.uid)) {
            debug_log("airport_upload: stopped for every unit (%s)\n", describe(result).c_str());
            stopped_ = true;
            stop_ = result;
            return false;
        }
        debug_log("airport_upload: UID %u drops out (%s)\n", result.uid, describe(result).c_str());
        outcome(result.uid).failure = result;
        dropped_ = true;
        return !live().empty();
    }
    void confirmed(const FlashConfirmed& confirmed) {
        take_confirmed(confirmed, units_);
        if (on_confirmed_) on_confirmed_(units_);
    }

    void close_databases() {
        for (AirportUnitProgress* unit : live()) {
            debug_log("airport_upload: closing airport DB on UID %u\n", unit->uid);
            const OperationResult closed = comms_.airport_db_command(unit->uid, false);
            if (!closed && !fail(closed)) return;
        }
        std::this_thread::sleep_for(kAfterCloseSettle);
    }

    // One erase run over every unit's unconfirmed blocks; when a unit fails
    // it, another run for the others' blocks that are still not confirmed.
    void erase() {
        for (;;) {
            std::vector<EraseBlocks> jobs;
            for (AirportUnitProgress* unit : live()) {
                std::vector<std::uint16_t> blocks = blocks_to_erase(*unit, blocks_);
                if (!blocks.empty()) jobs.push_back({unit->uid, std::move(blocks)});
            }
            if (jobs.empty()) return;
            FlashConfirmed erased;
            const OperationResult run = comms_.erase_flash_blocks(jobs, timeouts_.erase_ms, progress_, &erased);
            confirmed(erased);
            if (run || !fail(run)) return;
        }
    }

    // Every unit in step takes each chunk at once; otherwise, or once one has
    // dropped out, each unit is written on its own.
    void write() {
        std::vector<AirportUnitProgress*> writers = live();
        if (writers.empty()) return;
        const auto [low, high] = std::minmax_element(writers.begin(), writers.end(),
                                                     [](auto* a, auto* b) { return a->written < b->written; });
        const bool everyone = writers.size() == units_.size() && !dropped_;
        if (writers.size() > 1 && everyone && (*high)->written - (*low)->written <= kFlashChunkSize) {
            // Units a chunk apart: those behind take their chunk on their own,
            // then all go on together from the front offset. Starting everyone
            // at the lower offset would write the front units' last confirmed
            // chunk again, on top of the unconfirmed one each may hold already
            // (its echo lost), which the resume writes again in any case.
            const std::uint32_t from = (*high)->written;
            for (AirportUnitProgress* unit : writers) {
                if (unit->written < from && !catch_up(*unit, from) && stopped_) return;
            }
            if (dropped_) {
                // One that fell behind for good goes on below, on its own.
            } else if (from < size_) {
                std::vector<FirmwareTarget> targets;
                for (AirportUnitProgress* unit : writers) targets.push_back({unit->uid, from});
                if (write_from(targets, from, from, size_)) return;
                if (stopped_) return;
            } else {
                return;
            }
        }
        // One unit after another, each from its own offset.
        std::vector<AirportUnitProgress*> left;
        for (AirportUnitProgress* unit : live()) {
            if (unit->written < size_) left.push_back(unit);
        }
        const std::uint64_t total = std::uint64_t{size_} * left.size();
        for (std::size_t i = 0; i < left.size(); ++i) {
            if (stopped_) return;
            AirportUnitProgress* unit = left[i];
            const std::uint64_t before = std::uint64_t{size_} * i + unit->written;
            if (!write_from({{unit->uid, unit->written}}, unit->written, before, total) && stopped_) return;
        }
    }
    // Writes one unit's bytes from its confirmed offset up to `to` (at most a
    // chunk) with a chunk addressed to it; false when it failed.
    bool catch_up(AirportUnitProgress& unit, std::uint32_t to) {
        FlashConfirmed written;
        const OperationResult result =
            comms_.write_flash_together({{unit.uid, unit.written}}, database_.data() + unit.written, to - unit.written,
                                        timeouts_.write_ms, {}, &written);
        confirmed(written);
        if (!result) fail(result);
        return result.ok();
    }
    // Writes the database from `from` to the targets, a block at a time so
    // that the record of what they confirmed never lags by more than a block
    // (a tool that is killed loses at most that); true when all took it.
    bool write_from(const std::vector<FirmwareTarget>& targets, std::uint32_t from, std::uint64_t before,
                    std::uint64_t total) {
        std::vector<FirmwareTarget> at = targets;
        for (std::uint32_t offset = from; offset < size_;) {
            const std::uint32_t end = std::min(size_, (offset / kFlashBlockSize + 1) * kFlashBlockSize);
            for (FirmwareTarget& target : at) target.write_address = offset;
            const ProgressCallback scaled = write_progress(progress_, before + (offset - from), total);
            FlashConfirmed written;
            const OperationResult result = comms_.write_flash_together(at, database_.data() + offset, end - offset,
                                                                       timeouts_.write_ms, scaled, &written);
            confirmed(written);
            if (!result) {
                fail(result);
                return false;
            }
            offset = end;
        }
        return true;
    }

    void open_databases() {
        for (AirportUnitProgress* unit : live()) {
            if (unit->written < size_) continue;
            debug_log("airport_upload: opening airport DB on UID %u\n", unit->uid);
            const OperationResult opened = comms_.airport_db_command(unit->uid, true);
            if (!opened) {
                if (!fail(opened)) break;
                continue;
            }
            unit->done = true;
            outcome(unit->uid).holds_new = true;
            debug_log("airport_upload: complete on UID %u\n", unit->uid);
            if (on_confirmed_) on_confirmed_(units_);
        }
    }

    AirportResult result() {
        AirportResult out;
        out.units_total = static_cast<int>(units_.size());
        for (AirportUnitOutcome& unit : outcomes_) {
            if (unit.holds_new) {
                ++out.units_done;
                continue;
            }
            // Stopped before it could finish: the stop is its failure.
            if (!!unit.failure.ok()) {
                unit.failure = !stop_.ok() ? OperationResult::failure(stop_.step, stop_.reason, unit.uid)
                                           : OperationResult::failure(OperationStep::OpenDatabase,
                                                                      FailureReason::InvalidRequest, unit.uid);
            }
            if (out.failed_uid == 0) {
                out.failed_uid = unit.uid;
                out.failure = unit.failure;
            }
        }
        out.units = outcomes_;
        return out;
    }

    CommsManager& comms_;
    const std::vector<std::uint8_t>& database_;
    const std::uint32_t size_;
    const std::uint32_t blocks_;
    std::vector<AirportUnitProgress> units_;
    std::vector<AirportUnitOutcome> outcomes_;
    const ProgressCallback& progress_;
    AirportUploadTimeouts timeouts_;
    const AirportProgressSaved& on_confirmed_;
    bool stopped_ = false;  // every unit stopped (stop_ says why)
    bool dropped_ = false;  // a unit dropped out of this upload
    OperationResult stop_;
};

}  // namespace

AirportResult run_airport_upload_together(CommsManager& comms, const std::vector<std::uint8_t>& database,
                                          std::vector<AirportUnitProgress> units, const ProgressCallback& progress,
                                          const AirportUploadTimeouts& timeouts,
                                          const AirportProgressSaved& on_confirmed) {
    const auto reject = [&](OperationResult why) {
        AirportResult result;
        result.units_total = static_cast<int>(units.size());
        for (const AirportUnitProgress& unit : units) result.units.push_back({unit.uid, unit.done, {}});
        // An empty list fails too, with no unit to blame.
        result.failure = why;
        if (!units.empty()) {
            result.failed_uid = units.front().uid;
            result.failure = OperationResult::failure(why.step, why.reason, units.front().uid);
            result.units.front().failure = result.failure;
        }
        return result;
    };
    if (units.empty())
        return reject(OperationResult::failure(OperationStep::CloseDatabase, FailureReason::InvalidRequest));
    if (!comms.is_connected()) {
        return reject(OperationResult::failure(OperationStep::CloseDatabase, FailureReason::NotConnected));
    }
    if (const OperationResult checked =
            check_airport_database_size(database.empty() ? 0 : static_cast<std::int64_t>(database.size()));
        !checked) {
        return reject(checked);
    }
    return TogetherUpload(comms, database, std::move(units), progress, timeouts, on_confirmed).run();
}

}  // namespace vk61
