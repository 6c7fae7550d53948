// SettingsChannel: setting reads, sequenced commands (setting write, store)
// and plain acknowledgements, each with its wait slot and its reply handler.
//
// Threads: the operations block their calling thread (GUI or worker) for at
// most their time-out and end at once when the link drops or disconnect()
// begins; the handle_* functions run on the receive thread.
// Locks: one mutex per slot (wait_slot.h). An operation takes the registry
// lock (primary UID, target mask) before its slot lock, never inside it; it
// holds its slot lock while it sends (the transmit lock inside) and releases
// it only inside the condition wait. The sequenced-command lock is never held
// together with the erase-run lock: the dispatcher offers a sequenced
// acknowledgement to the erase run first, and that lock is released before
// this one is taken.
#pragma once

#include <cstdint>
#include <functional>

#include "bus_frame.h"
#include "link.h"
#include "operation_result.h"
#include "sequence_counter.h"
#include "unit_registry.h"
#include "wait_slot.h"

namespace vk61 {

class SettingsChannel {
public:
    SettingsChannel(Link& link, UnitRegistry& registry, SequenceCounter& sequence);
    SettingsChannel(const SettingsChannel&) = delete;
    SettingsChannel& operator=(const SettingsChannel&) = delete;

    // Reads one element from the primary unit; waits up to timeout_ms. A
    // stored 0xFFFFFFFF is a value like any other.
    OperationResult read_setting_value(std::uint8_t index, unsigned timeout_ms, std::uint32_t* value);
    // Writes one element to every target unit; waits up to timeout_ms for all
    // of their acknowledgements.
    OperationResult write_setting(std::uint8_t index, std::uint32_t value, unsigned timeout_ms);
    // Makes every target unit store its settings; waits up to timeout_ms.
    OperationResult save_user_settings(std::uint32_t checksum, unsigned timeout_ms);
    // Arms the sequenced-command slot for the target mask, runs send(sequence)
    // with the slot locked, and waits up to timeout_ms until every target
    // acknowledged. A failure names `step`.
    OperationResult run_sequenced_command(std::uint16_t command, const std::function<bool(std::uint32_t)>& send,
                                          unsigned timeout_ms, const char* name, OperationStep step);
    // Arms the plain-acknowledgement slot for (uid, command), runs send() with
    // the slot locked, and waits up to timeout_ms for the unit's
    // acknowledgement. A failure names `step`.
    OperationResult wait_legacy_ack(std::uint8_t uid, std::uint16_t command, const std::function<bool()>& send,
                                    unsigned timeout_ms, OperationStep step);

    // ---- receive thread ----
    void trace_while_reading(const BusFrame& frame);
    void handle_setting_reply(const BusFrame& frame);
    void handle_sequenced_ack(const BusFrame& frame);
    void handle_plain_ack(const BusFrame& frame);

    // Ends every armed wait of the channel with `why`.
    void abort_waits(FailureReason why);

private:
    // Lets the fuzz harness arm the wait slots directly.
    friend struct CommsManagerFuzzAccess;

    struct SettingReadSlot : WaitSlot {
        std::uint8_t wanted_uid = 0;
        std::uint8_t wanted_index = 0;
        std::uint32_t raw_value = 0;  // the value as received, 0xFFFFFFFF included
        bool done = false;
    };
    struct SequencedCommandSlot : WaitSlot {
        std::uint32_t sequence = 0;
        std::uint16_t command = 0;
        std::uint32_t pending_mask = 0;
    };
    struct PlainAckSlot : WaitSlot {
        std::uint8_t uid = 0;
        std::uint16_t command = 0;  // low 11 bits
        bool complete = false;
    };

    Link& link_;
    UnitRegistry& registry_;
    SequenceCounter& sequence_;
    SettingReadSlot read_slot_;
    SequencedCommandSlot sequenced_slot_;
    PlainAckSlot plain_ack_slot_;
};

}  // namespace vk61
