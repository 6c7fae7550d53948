// The armed faults of an installation and how they act on outgoing replies.
// Not thread-safe: the Installation calls it under its state lock.
#pragma once

#include "fault.h"
#include "reply.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace sim {

// One frame on its way to the host after the faults had their say.
struct Outgoing {
    vk61::BusFrame frame;
    ReplyKind kind = ReplyKind::Any;
    std::chrono::milliseconds delay{0};  // on top of the installation's latency
    std::uint16_t command = 0;           // as in the Reply it came from
    std::uint8_t uid = 0;                // the unit that really sent it, whatever the frame says
};

class FaultTable {
public:
    void add(const Fault& fault);
    void clear();
    // Faults that may still act.
    std::size_t armed() const;

    // Applies the faults to the replies caused by one event, in order.
    std::vector<Outgoing> apply(std::vector<Reply> replies);

    // Counts one host frame against the PullCable faults; returns the one that
    // fires on it, if any.
    std::optional<Fault> on_host_frame(const vk61::BusFrame& frame);
    // Counts one host frame against the LoseHostFrame faults; returns the
    // units that must not receive it (bit n = UID n; kAllUnits = none does).
    std::uint32_t lost_host_frame(const vk61::BusFrame& frame);
    static constexpr std::uint32_t kAllUnits = 0xFFFFFFFFu;

private:
    struct Entry {
        Fault fault;
        unsigned seen = 0;                          // matching replies so far
        unsigned fired = 0;                         // of those, acted on
        std::optional<std::uint32_t> held_address;  // StuckAddress: the address it repeats
        bool spent() const { return fault.times != 0 && fired >= fault.times; }
    };
    // Counts a match; true when this occurrence is one to act on.
    static bool take(Entry& entry);
    // StuckAddress: remembers the address of a reply let through, or puts the
    // remembered one into a reply acted on.
    static void hold_address(Entry& entry, Reply& reply, bool acts);

    std::vector<Entry> entries_;
};

}  // namespace sim
