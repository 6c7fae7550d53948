#include "operation_runner.h"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include "transfer/firmware_worker.h"

namespace soak {

namespace {

using Clock = std::chrono::steady_clock;

// Shared by the caller, the worker and the second thread; held by each of
// them, so a worker left behind by the watchdog never touches freed memory.
struct RunState {
    std::mutex mutex;
    std::condition_variable changed;
    bool done = false;        // guarded by mutex
    bool success = false;     // guarded by mutex
    bool interfered = false;  // guarded by mutex
    vk61::AirportResult airport;  // guarded by mutex
    vk61::OperationResult result;  // guarded by mutex
};

}  // namespace

OperationRunner::OperationRunner(vk61::CommsManager& comms, TransferTimeouts timeouts)
    : comms_(comms), timeouts_(timeouts) {}

OperationRun OperationRunner::run(TransferKind kind, const std::string& path, const std::vector<std::uint8_t>& uids,
                                  const std::optional<Interference>& interference, std::chrono::milliseconds watchdog) {
    auto state = std::make_shared<RunState>();
    vk61::CommsManager& comms = comms_;
    ProgressProbe* probe = &progress_;
    const TransferTimeouts timeouts = timeouts_;
    const auto start = Clock::now();
    progress_.begin_transfer();

    std::thread worker([state, &comms, probe, timeouts, kind, path, uids] {
        bool success = false;
        vk61::AirportResult airport;
        vk61::OperationResult result;
        if (kind == TransferKind::FirmwareUpdate) {
            result = vk61::run_firmware_update(comms, path, &ProgressProbe::record, probe, [&success] { success = true; },
                                               vk61::FirmwareUpdateTimeouts{timeouts.prepare_ms, timeouts.erase_ms,
                                                                            timeouts.write_ms});
        } else {
            airport = vk61::run_airport_upload(comms, path, uids, {}, &ProgressProbe::record, probe,
                                               vk61::AirportUploadTimeouts{timeouts.erase_ms, timeouts.write_ms});
            success = airport.success;
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
