// Runs one piece of bus work on a thread of its own while the calling thread
// draws progress and watches for Ctrl-C: on an interrupt the manager is
// disconnected, which ends every wait of the work at once, and the thread is
// joined before this returns.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>

namespace vk61 {
class CommsManager;
}

namespace vk61::cli {

// Returns true when work ran to its end, false when it was interrupted.
// tick runs on the calling thread every tick_interval while work runs.
bool run_bus_task(CommsManager& comms, const std::atomic<bool>* interrupted, const std::function<void()>& work,
                  const std::function<void()>& tick = {},
                  std::chrono::milliseconds tick_interval = std::chrono::milliseconds(100));

}  // namespace vk61::cli
