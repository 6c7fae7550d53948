#include "operation_runner.h"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include <QByteArray>
#include <QCryptographicHash>

#include "core/airport_transfer.h"
#include "flash/airport_file.h"
#include "transfer/firmware_worker.h"

namespace soak {

namespace {

using Clock = std::chrono::steady_clock;

// The job the front ends would make of the file; a file that cannot be read
// fails the first unit, none done, as run_airport_upload does.
vk61::AirportResult run_job(vk61::CommsManager& comms, const std::string& path, const AirportRequest& request,
                            const vk61::AirportUploadTimeouts& timeouts, ProgressProbe* probe) {
    auto database = std::make_shared<std::vector<std::uint8_t>>();
    if (const vk61::OperationResult read = vk61::read_airport_database(path.c_str(), database.get()); !read) {
        vk61::AirportResult result;
        result.units_total = static_cast<int>(request.units.size());
        for (const vk61::DeviceInfo& unit : request.units) result.units.push_back({unit.uid, false, {}});
        if (!result.units.empty()) {
            result.failed_uid = result.units.front().uid;
            result.failure = vk61::OperationResult::failure(read.step, read.reason, result.failed_uid);
            result.units.front().failure = result.failure;
        }
        return result;
    }
    vk61::AirportJob job;
    job.sha256 = sha256_hex(*database);
    job.database = database;
    job.units = request.units;
    job.one_at_a_time = request.one_at_a_time;
    job.resume_from = request.resume_from;
    job.record_path = request.record_path;
    job.timeouts = timeouts;
    return vk61::run_airport_job(comms, job, {}, probe->callback()).result;
}

// Shared by the caller, the worker and the second thread; held by each of
// them, so a worker left behind by the watchdog never touches freed memory.
struct RunState {
    std::mutex mutex;
    std::condition_variable changed;
    bool done = false;             // guarded by mutex
    bool success = false;          // guarded by mutex
    bool interfered = false;       // guarded by mutex
    vk61::AirportResult airport;   // guarded by mutex
    vk61::OperationResult result;  // guarded by mutex
};

}  // namespace

QString sha256_hex(const std::vector<std::uint8_t>& bytes) {
    const QByteArray view =
        QByteArray::fromRawData(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size()));
    return QString::fromLatin1(QCryptographicHash::hash(view, QCryptographicHash::Sha256).toHex());
}

OperationRunner::OperationRunner(vk61::CommsManager& comms, TransferTimeouts timeouts)
    : comms_(comms), timeouts_(timeouts) {}

OperationRun OperationRunner::run(TransferKind kind, const std::string& path, const std::vector<std::uint8_t>& uids,
                                  const std::optional<Interference>& interference, std::chrono::milliseconds watchdog,
                                  const std::optional<AirportRequest>& airport_request) {
    auto state = std::make_shared<RunState>();
    vk61::CommsManager& comms = comms_;
    ProgressProbe* probe = &progress_;
    const TransferTimeouts timeouts = timeouts_;
    const auto start = Clock::now();
    progress_.begin_transfer();

    std::thread worker([state, &comms, probe, timeouts, kind, path, uids, airport_request] {
        bool success = false;
        vk61::AirportResult airport;
        vk61::OperationResult result;
        if (kind == TransferKind::FirmwareUpdate) {
            result = vk61::run_firmware_update(
                comms, path, probe->callback(), [&success] { success = true; },
                vk61::FirmwareUpdateTimeouts{timeouts.prepare_ms, timeouts.erase_ms, timeouts.write_ms});
        } else if (airport_request) {
            airport = run_job(comms, path, *airport_request,
                              vk61::AirportUploadTimeouts{timeouts.erase_ms, timeouts.write_ms}, probe);
            success = airport.ok();
            result = airport.failure;
        } else {
            airport = vk61::run_airport_upload(comms, path, uids, {}, probe->callback(),
                                               vk61::AirportUploadTimeouts{timeouts.erase_ms, timeouts.write_ms});
            success = airport.ok();
            result = airport.failure;
        }
        std::lock_guard lock(state->mutex);
        state->done = true;
        state->success = success;
        state->airport = airport;
        state->result = result;
        state->changed.notify_all();
    });

    std::thread disturber;
    if (interference) {
        disturber = std::thread([state, start, interference = *interference] {
            {
                std::unique_lock lock(state->mutex);
                // Waits until the moment comes or the operation returns.
                if (state->changed.wait_until(lock, start + interference.after, [&] { return state->done; })) return;
                state->interfered = true;
            }
            interference.action();
        });
    }

    OperationRun result;
    {
        std::unique_lock lock(state->mutex);
        // Waits for the worker, up to the watchdog.
        result.returned = state->changed.wait_until(lock, start + watchdog, [&] { return state->done; });
    }
    result.took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
    if (!result.returned) {
        worker.detach();
        if (disturber.joinable()) disturber.detach();
        return result;
    }
    worker.join();
    if (disturber.joinable()) disturber.join();
    progress_.end_transfer();

    std::lock_guard lock(state->mutex);
    result.success = state->success;
    result.airport = state->airport;
    result.result = state->result;
    result.interfered = state->interfered;
    return result;
}

}  // namespace soak
