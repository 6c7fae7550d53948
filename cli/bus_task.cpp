#include "bus_task.h"

#include <condition_variable>
#include <mutex>
#include <thread>

#include "comms_manager.h"

namespace vk61::cli {

bool run_bus_task(CommsManager& comms, const std::atomic<bool>* interrupted, const std::function<void()>& work,
                  const std::function<void()>& tick, std::chrono::milliseconds tick_interval) {
    std::mutex mutex;
    std::condition_variable finished_cv;
    bool finished = false;
    std::thread worker([&] {
        work();
        std::lock_guard lock(mutex);
        finished = true;
        finished_cv.notify_all();
    });
    // The interrupt flag is set from a signal handler, which cannot notify a
    // condition variable; polling it a few times a second is what Ctrl-C needs.
    const auto poll = std::min(tick_interval, std::chrono::milliseconds(50));
    auto next_tick = std::chrono::steady_clock::now() + tick_interval;
    bool was_interrupted = false;
    {
        std::unique_lock lock(mutex);
        while (!finished_cv.wait_for(lock, poll, [&] { return finished; })) {
            if (interrupted != nullptr && interrupted->load()) {
                was_interrupted = true;
                break;
            }
            if (tick && std::chrono::steady_clock::now() >= next_tick) {
                lock.unlock();
                tick();
                lock.lock();
                next_tick += tick_interval;
            }
        }
    }
    if (was_interrupted) comms.disconnect();
    worker.join();
    return !was_interrupted;
}

}  // namespace vk61::cli
