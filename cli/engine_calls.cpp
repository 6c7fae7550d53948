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

}  // namespace

OperationResult connect_bridge(CommsManager& comms) { return comms.connect(); }

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

OperationResult send_reboot(CommsManager& comms) { return comms.reboot_devices(); }

TransferResult update_firmware(CommsManager& comms, const FirmwareImage& image, const ProgressCallback& progress,
                               const FirmwareUpdateTimeouts& timeouts) {
    bool succeeded = false;
    TransferResult transfer;
    transfer.kind = TransferKind::Firmware;
    transfer.failure = run_firmware_update(
        comms, image, progress, [&succeeded] { succeeded = true; }, timeouts);
    // Only the worker's success (after the header is in place on every unit)
    // counts; its result says where it stopped otherwise.
    if (!transfer.failure.ok()) {
        transfer.end = TransferEnd::Failed;
    } else {
        transfer.end = succeeded ? TransferEnd::Done : TransferEnd::Unreported;
    }
    return transfer;
}

TransferResult upload_airports(CommsManager& comms, const AirportJob& job, const AirportUnitStart& on_unit_start,
                               const ProgressCallback& progress, AirportJobResult* job_result) {
    const AirportJobResult ran = run_airport_job(comms, job, on_unit_start, progress);
    if (job_result != nullptr) *job_result = ran;
    TransferResult transfer;
    transfer.kind = TransferKind::AirportDatabase;
    transfer.end = ran.ok() ? TransferEnd::Done : TransferEnd::Failed;
    transfer.failure = ran.result.failure;
    transfer.airports = ran.result;
    return transfer;
}

QString describe(const TransferResult& result) {
    if (result.kind == TransferKind::Firmware) {
        switch (result.end) {
        case TransferEnd::Done: return QStringLiteral("Firmware upload complete");
        case TransferEnd::Unreported:
            return QStringLiteral("the firmware update failed: the worker did not report success");
        case TransferEnd::Failed: break;
        }
        return QStringLiteral("the firmware update failed: ") + QString::fromStdString(describe(result.failure));
    }
    const AirportResult& airports = result.airports;
    if (result.ok()) {
        return QStringLiteral("Airport database transfer finished on all %1 device(s)").arg(airports.units_total);
    }
    return QStringLiteral("the airport database transfer failed: %1 (%2 / %3 succeeded)")
        .arg(QString::fromStdString(describe(airports)))
        .arg(airports.units_done)
        .arg(airports.units_total);
}

}  // namespace vk61::cli
