// Waiting for the units to come back after the reboot command, for both
// front ends. Blocks its caller (a bus worker, never the window's thread)
// and can be stopped at any time through its stop flag.
#pragma once

#include <QString>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>

namespace vk61 {
class CommsManager;
}

// When the wait checks for the units. A default-built value holds the
// product's: the first check after the units' 3000 ms of silence, then one
// a second, 60 checks in all (the last about 62 s after the command).
struct RebootWaitTimings {
    std::chrono::milliseconds first_check{3000};
    std::chrono::milliseconds next_check{1000};
    int checks = 60;
};

// Up to timings.checks checks; each asks the units again (rediscover) and
// then runs on_check on the calling thread. The wait ends once a unit was
// heard, or with expected (bit n for UID n) once every one of those was.
// Returns the UIDs heard since the first check (bit n for UID n): 0 when none
// came back in time or stop was set, fewer than expected when some did not.
// While the link is down a check only looks: the receive thread reconnects
// on its own.
std::uint32_t wait_for_units_after_reboot(vk61::CommsManager& comms, const RebootWaitTimings& timings,
                                          const std::atomic<bool>* stop, const std::function<void()>& on_check = {},
                                          std::uint32_t expected = 0);

// How a reboot and the wait after it ended.
enum class RebootEnd {
    NotSent,  // the reboot command could not be sent
    Back,     // every unit waited for was heard again (any unit, when none was named)
    NotBack,  // the wait's last check passed without them
    Stopped,  // the stop flag ended the wait
};

struct RebootResult {
    RebootEnd end = RebootEnd::NotSent;
    std::uint32_t heard = 0;     // UIDs heard since the wait's first check (bit n for UID n)
    std::uint32_t expected = 0;  // the units waited for; 0 when any unit will do

    static RebootResult not_sent() { return {}; }
    // The end of a wait_for_units_after_reboot that returned heard.
    static RebootResult after_wait(std::uint32_t heard, std::uint32_t expected, bool stopped);

    bool ok() const { return end == RebootEnd::Back; }
};

// "Device reconnected (UID 1, 2 heard)", "Failed to send reboot command",
// "Devices did not reappear after reboot" (for named units, which of them did
// not answer), or "Waiting for the units after the reboot was cancelled".
QString describe(const RebootResult& result);
