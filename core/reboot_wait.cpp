#include "core/reboot_wait.h"

#include <QStringList>

#include <algorithm>
#include <thread>

#include "comms_manager.h"
#include "core/update_check.h"
#include "protocol.h"

namespace {

using Clock = std::chrono::steady_clock;
// How often a pause looks at the stop flag: a stop is noticed this soon.
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

std::uint32_t wait_for_units_after_reboot(vk61::CommsManager& comms, const RebootWaitTimings& timings,
                                          const std::atomic<bool>* stop, const std::function<void()>& on_check,
                                          std::uint32_t expected) {
    const auto back = [expected](std::uint32_t heard) {
        return expected == 0 ? heard != 0 : (heard & expected) == expected;
    };
    if (!sleep_unless_stopped(timings.first_check, stop)) return 0;
    // The mark is taken at the first check, not at the command: an alive
    // flag left from before the reboot does not count, nor does a reply that
    // was on its way when the reboot went out.
    const std::uint64_t mark = comms.hearing_mark();
    for (int check = 0; check < timings.checks; ++check) {
        if (check > 0 && !sleep_unless_stopped(timings.next_check, stop)) return 0;
        if (!comms.is_connected()) continue;
        comms.rediscover();
        if (on_check) on_check();
        // A reply to this check's question may take a moment; it also counts
        // at the next check.
        if (const std::uint32_t heard = comms.units_heard_since(mark); back(heard)) return heard;
    }
    // The last check's replies.
    if (!sleep_unless_stopped(kPoll * 10, stop)) return 0;
    return comms.units_heard_since(mark);
}

RebootResult RebootResult::after_wait(std::uint32_t heard, std::uint32_t expected, bool stopped) {
    const bool back = expected == 0 ? heard != 0 : (heard & expected) == expected;
    if (back) return {RebootEnd::Back, heard, expected};
    return {stopped ? RebootEnd::Stopped : RebootEnd::NotBack, heard, expected};
}

QString describe(const RebootResult& result) {
    switch (result.end) {
    case RebootEnd::NotSent: return QStringLiteral("Failed to send reboot command");
    case RebootEnd::Back: break;
    case RebootEnd::NotBack:
        if (result.expected != 0) return unitsNotBackText(result.expected, result.heard);
        return QStringLiteral("Devices did not reappear after reboot");
    case RebootEnd::Stopped: return QStringLiteral("Waiting for the units after the reboot was cancelled");
    }
    QStringList uids;
    for (unsigned uid = 1; uid <= vk61::protocol::kHighestUid; ++uid) {
        if ((result.heard >> uid & 1u) != 0) uids << QString::number(uid);
    }
    return QStringLiteral("Device reconnected (UID %1 heard)").arg(uids.join(QStringLiteral(", ")));
}
