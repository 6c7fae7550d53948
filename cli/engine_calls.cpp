#include "engine_calls.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "comms_manager.h"

namespace vk61::cli {

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::chrono::milliseconds kPoll{20};

bool stopped(const std::atomic<bool>* stop) { return stop != nullptr && stop->load(); }

// Sleeps for duration in short steps; false when stop was set meanwhile.
bool sleep_unless_stopped(std::chrono::milliseconds duration, const std::atomic<bool>* stop) {
    const auto until = Clock::now() + duration;
    while (Clock::now() < until) {
        if (stopped(stop)) return false;
        std::this_thread::sleep_for(std::min<Clock::duration>(kPoll, until - Clock::now()));
    }
    return !stopped(stop);
}

}  // namespace

bool connect_bridge(CommsManager& comms) { return comms.connect(); }

std::vector<DeviceInfo> discover_units(CommsManager& comms, const CliTimings& timings, const std::atomic<bool>* stop) {
    const auto deadline = Clock::now() + timings.discovery_limit;
    std::vector<DeviceInfo> last;
    auto last_change = Clock::now();
    for (;;) {
        std::vector<DeviceInfo> now = comms.device_snapshot();
        const bool changed = now.size() != last.size() ||
                             !std::equal(now.begin(), now.end(), last.begin(), [](const auto& a, const auto& b) {
                                 return a.uid == b.uid && a.device_id == b.device_id && a.firmware == b.firmware;
                             });
        if (changed) {
            last = std::move(now);
            last_change = Clock::now();
        }
        const bool identified = !last.empty() && std::none_of(last.begin(), last.end(),
                                                              [](const DeviceInfo& u) { return u.is_placeholder(); });
        if (identified && Clock::now() - last_change >= timings.discovery_quiet) break;
        if (Clock::now() >= deadline || stopped(stop)) break;
        std::this_thread::sleep_for(kPoll);
    }
    std::vector<DeviceInfo> units;
    for (const DeviceInfo& unit : last) {
        if (!unit.is_placeholder()) units.push_back(unit);
    }
    return units;
}

LoadResult load_configuration(ConfigExchange& exchange) { return exchange.load(); }

StoreResult store_settings(ConfigExchange& exchange) { return exchange.save_settings(); }

bool send_reboot(CommsManager& comms) { return comms.reboot_devices(); }

std::uint32_t wait_for_units_after_reboot(CommsManager& comms, const CliTimings& timings,
                                          const std::atomic<bool>* stop) {
    if (!sleep_unless_stopped(timings.reboot_first_check, stop)) return 0;
    // The mark is taken at the first check, not at the command: a reply that
    // was on its way when the reboot went out does not count.
    const std::uint64_t mark = comms.hearing_mark();
    for (int check = 0; check < timings.reboot_checks; ++check) {
        if (check > 0 && !sleep_unless_stopped(timings.reboot_next_check, stop)) return 0;
        if (!comms.is_connected()) continue;
        comms.rediscover();
        // A reply to this check's question may take a moment; it also counts
        // at the next check.
        if (const std::uint32_t heard = comms.units_heard_since(mark); heard != 0) return heard;
    }
    // The last check's replies.
    if (!sleep_unless_stopped(kPoll * 10, stop)) return 0;
    return comms.units_heard_since(mark);
}

TransferOutcome update_firmware(CommsManager& comms, const FirmwareImage& image, ProgressFn progress,
                                const void* progress_user, const FirmwareUpdateTimeouts& timeouts) {
    bool succeeded = false;
    const OperationResult result = run_firmware_update(
        comms, image, progress, progress_user, [&succeeded] { succeeded = true; }, timeouts);
    TransferOutcome outcome;
    // Only the worker's success (after the header is in place on every unit)
    // counts; its result says where it stopped otherwise.
    outcome.ok = succeeded && result.ok();
    outcome.failed_uid = result.uid;
    if (!outcome.ok) {
        outcome.failure = "the firmware update failed: " +
                          (result.ok() ? std::string("the worker did not report success") : describe(result));
    }
    return outcome;
}

TransferOutcome upload_airports(CommsManager& comms, const std::vector<std::uint8_t>& database,
                                const std::vector<std::uint8_t>& uids, const AirportUnitStart& on_unit_start,
                                ProgressFn progress, const void* progress_user, const AirportUploadTimeouts& timeouts) {
    const AirportResult result =
        run_airport_upload(comms, database, uids, on_unit_start, progress, progress_user, timeouts);
    TransferOutcome outcome;
    outcome.ok = result.success;
    outcome.units_done = result.units_done;
    outcome.units_total = result.units_total;
    outcome.failed_uid = result.failed_uid;
    if (!outcome.ok) {
        outcome.failure = "the airport database transfer failed: " + describe(result.failure) + " (" +
                          std::to_string(result.units_done) + " / " + std::to_string(result.units_total) +
                          " succeeded)";
    }
    return outcome;
}

}  // namespace vk61::cli
