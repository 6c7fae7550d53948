// Settings exchange: reading one setting from the primary unit, sequenced
// commands (setting write, store) that every target unit acknowledges, plain
// acknowledgements of single-unit commands, and the receive-side handlers of
// setting replies and acknowledgements.
//
// Each operation arms its slot under the slot lock, sends its request with
// the lock still held (so the reply cannot be matched before the slot is
// armed) and releases the lock only inside the condition wait. Lock order:
// registry lock (target_mask, primary_uid) before and never inside a slot
// lock; the slot lock before the transmit lock.
#include "settings_channel.h"

#include "debug_log.h"
#include "protocol.h"
#include "uid_mask.h"

namespace vk61 {

SettingsChannel::SettingsChannel(Link& link, UnitRegistry& registry, SequenceCounter& sequence)
    : link_(link), registry_(registry), sequence_(sequence) {}

// Blocks until the primary unit's reply for index arrives, the link drops,
// disconnect() is called, or timeout_ms passes.
OperationResult SettingsChannel::read_setting_value(std::uint8_t index, unsigned timeout_ms, std::uint32_t* value) {
    constexpr OperationStep kStep = OperationStep::ReadSetting;
    if (!link_.is_connected()) return OperationResult::failure(kStep, FailureReason::NotConnected);
    const std::uint8_t uid = registry_.primary_uid();  // registry lock, before the slot lock
    SettingReadSlot& slot = read_slot_;
    const std::uint8_t payload[] = {0x00, index};
    const FailureReason why = exchange(
        link_, slot, deadline_after(timeout_ms),
        [&] {
            slot.wanted_uid = uid;
            slot.wanted_index = index;
            slot.done = false;
            slot.raw_value = 0;
        },
        [&] {
            return link_.send_command(protocol::kSettingRead | (uid & protocol::kUidMask), protocol::kDlcSettingRead,
                                      payload, sizeof payload);
        },
        [&] { return slot.done; },
        [&](FailureReason ended) {
            if (ended == FailureReason::None && value != nullptr) *value = slot.raw_value;
        });
    if (why == FailureReason::None) return OperationResult::success();
    if (why == FailureReason::TimedOut) {
        debug_log("read_setting: timeout UID %u index 0x%02X\n", static_cast<unsigned>(uid),
                  static_cast<unsigned>(index));
    }
    return OperationResult::failure(kStep, why, uid);
}

OperationResult SettingsChannel::write_setting(std::uint8_t index, std::uint32_t value, unsigned timeout_ms) {
    return run_sequenced_command(
        protocol::kSettingWrite,
        [this, index, value](std::uint32_t sequence) {
            std::uint8_t payload[8] = {index};
            put_u32(payload + 1, value);
            put_u24(payload + 5, sequence);
            return link_.send_command(protocol::kSettingWrite, protocol::kDlcSettingWrite, payload, sizeof payload);
        },
        timeout_ms, "write_setting", OperationStep::WriteSetting);
}

OperationResult SettingsChannel::save_user_settings(std::uint32_t checksum, unsigned timeout_ms) {
    return run_sequenced_command(
        protocol::kStoreSettings,
        [this, checksum](std::uint32_t sequence) {
            std::uint8_t payload[7] = {};
            put_u32(payload, checksum);
            put_u24(payload + 4, sequence);
            return link_.send_command(protocol::kStoreSettings, protocol::kDlcStoreSettings, payload, sizeof payload);
        },
        timeout_ms, "save_user_settings", OperationStep::StoreSettings);
}

// Blocks until every unit of the target mask acknowledged, one NACKed, the
// link drops, disconnect() is called, or timeout_ms passes.
OperationResult SettingsChannel::run_sequenced_command(std::uint16_t command,
                                                       const std::function<bool(std::uint32_t)>& send,
                                                       unsigned timeout_ms, const char* name, OperationStep step) {
    if (!link_.is_connected()) return OperationResult::failure(step, FailureReason::NotConnected);
    if (!send) return OperationResult::failure(step, FailureReason::InvalidRequest);
    const std::uint32_t mask = registry_.target_mask();  // registry lock, before the slot lock
    const std::uint32_t sequence = sequence_.next();
    SequencedCommandSlot& slot = sequenced_slot_;
    std::uint8_t uid = 0;
    const FailureReason why = exchange(
        link_, slot, deadline_after(timeout_ms),
        [&] {
            slot.sequence = sequence;
            slot.command = command;
            slot.pending_mask = mask;
        },
        [&] { return send(sequence); },  // a failed send is reported by the caller
        [&] { return slot.pending_mask == 0; },
        [&](FailureReason ended) {
            if (ended == FailureReason::None) return;
            debug_log("%s: failed cmd=0x%03X seq=%u pending_mask=0x%02X failed=%d\n",
                      name != nullptr ? name : "sequenced_cmd", static_cast<unsigned>(command), sequence,
                      slot.pending_mask, slot.failed() ? 1 : 0);
            uid = slot.failed_uid != 0 ? slot.failed_uid : lowest_uid(slot.pending_mask);
        });
    return why == FailureReason::None ? OperationResult::success() : OperationResult::failure(step, why, uid);
}

// Blocks until the unit acknowledges (or NACKs) the command, the link drops,
// disconnect() is called, or timeout_ms passes.
OperationResult SettingsChannel::wait_legacy_ack(std::uint8_t uid, std::uint16_t command,
                                                 const std::function<bool()>& send, unsigned timeout_ms,
                                                 OperationStep step) {
    if (!link_.is_connected()) return OperationResult::failure(step, FailureReason::NotConnected, uid);
    if (!send) return OperationResult::failure(step, FailureReason::InvalidRequest, uid);
    PlainAckSlot& slot = plain_ack_slot_;
    const FailureReason why = exchange(
        link_, slot, deadline_after(timeout_ms),
        [&] {
            slot.complete = false;
            slot.uid = uid;
            slot.command = command & protocol::kIdentifierMask;
        },
        send,  // a failed send is reported by the caller
        [&] { return slot.complete; },
        [&](FailureReason ended) {
            if (ended == FailureReason::None) return;
            debug_log("legacy_ack: failed uid=%u cmd=0x%03X complete=%d failed=%d\n", static_cast<unsigned>(uid),
                      static_cast<unsigned>(slot.command), slot.complete ? 1 : 0, slot.failed() ? 1 : 0);
        });
    return why == FailureReason::None ? OperationResult::success() : OperationResult::failure(step, why, uid);
}

// Receive thread. Setting replies are matched by index alone; a reply that
// names another unit is still taken, with a line saying so.
void SettingsChannel::handle_setting_reply(const BusFrame& frame) {
    const unsigned identifier = frame.identifier() & protocol::kIdentifierMask;
    const std::size_t bytes = dlc_to_bytes(frame.dlc());
    if (bytes < protocol::kSettingReplyMinBytes) {
        debug_log("settings_rx: reject short payload can=0x%03X dlc=%u bytes=%u\n", identifier,
                  static_cast<unsigned>(frame.dlc()), static_cast<unsigned>(bytes));
        return;
    }
    const std::uint8_t* d = frame.data();
    const unsigned uid = d[0];
    const unsigned index = d[1];
    const std::uint32_t value = get_u32(d + 2);

    std::lock_guard lock(read_slot_.mutex);
    if (!read_slot_.active) {
        debug_log("settings_rx: got can=0x%03X uid=%u index=0x%02X value=0x%08X but no wait active\n", identifier, uid,
                  index, value);
        return;
    }
    if (index != read_slot_.wanted_index) {
        debug_log("settings_rx: index mismatch got=0x%02X want=0x%02X (uid got=%u want=%u)\n", index,
                  static_cast<unsigned>(read_slot_.wanted_index), uid, static_cast<unsigned>(read_slot_.wanted_uid));
        return;
    }
    if (uid != 0 && uid != read_slot_.wanted_uid) {
        debug_log("settings_rx: uid mismatch got=%u want=%u (accepting by index only)\n", uid,
                  static_cast<unsigned>(read_slot_.wanted_uid));
    }
    debug_log("settings_rx: matched uid=%u index=0x%02X value=0x%08X\n", uid, index, value);
    read_slot_.raw_value = value;
    read_slot_.done = true;
    read_slot_.cv.notify_all();
}

// Receive thread, for a sequenced acknowledgement (DLC code 7) that no erase
// run claimed: the dispatcher offers it to the erase run first, whose lock is
// released before this one is taken.
void SettingsChannel::handle_sequenced_ack(const BusFrame& frame) {
    const std::uint8_t* d = frame.data();
    const unsigned uid = d[0];
    if (uid > protocol::kHighestUid) return;

    const unsigned acked = get_u16(d + 1) & protocol::kIdentifierMask;
    const unsigned status = d[3];
    const std::uint32_t sequence = get_u24(d + 4);
    const std::uint32_t bit = 1u << uid;

    SequencedCommandSlot& slot = sequenced_slot_;
    std::lock_guard lock(slot.mutex);
    if (!slot.active || sequence != slot.sequence || acked != (slot.command & protocol::kIdentifierMask) ||
        (slot.pending_mask & bit) == 0) {
        return;  // another command's, a stale one, or a unit we do not wait for
    }
    switch (status) {
    case protocol::kAckStatusAck:
        slot.pending_mask &= ~bit;
        if (slot.pending_mask == 0) slot.cv.notify_all();
        break;
    case protocol::kAckStatusNack:
        debug_log("sequenced_cmd: NACK from UID %u for cmd 0x%03X seq=%u\n", uid, acked, sequence);
        slot.fail(FailureReason::Refused, static_cast<std::uint8_t>(uid));
        break;
    default:
        debug_log("sequenced_cmd: invalid ACK status %u from UID %u\n", status, uid);
        slot.fail(FailureReason::InvalidStatus, static_cast<std::uint8_t>(uid));
        break;
    }
}

// Receive thread, for a plain acknowledgement (DLC code 4). An acknowledgement
// that arrives once the armed command is
// complete (a duplicate, a late repeat) is ignored.
void SettingsChannel::handle_plain_ack(const BusFrame& frame) {
    const std::uint8_t* d = frame.data();
    const unsigned uid = d[0];
    const unsigned acked = get_u16(d + 1) & protocol::kIdentifierMask;
    const unsigned status = d[3];

    PlainAckSlot& slot = plain_ack_slot_;
    std::lock_guard lock(slot.mutex);
    if (!slot.active || slot.complete || uid != slot.uid || acked != slot.command) return;
    switch (status) {
    case protocol::kAckStatusAck: slot.complete = true; break;
    case protocol::kAckStatusNack:
        debug_log("legacy_ack: NACK from UID %u for cmd 0x%03X\n", uid, acked);
        slot.fail(FailureReason::Refused, static_cast<std::uint8_t>(uid));
        break;
    default:
        debug_log("legacy_ack: invalid status %u from UID %u\n", status, uid);
        slot.fail(FailureReason::InvalidStatus, static_cast<std::uint8_t>(uid));
        break;
    }
    slot.cv.notify_all();
}

// Receive thread. Every frame that arrives while a setting read waits is traced.
void SettingsChannel::trace_while_reading(const BusFrame& frame) {
    const std::uint32_t identifier = frame.identifier();
    const std::uint8_t* data = frame.data();
    std::lock_guard lock(read_slot_.mutex);
    if (read_slot_.active) {
        debug_log("rx: can=0x%03X base=0x%03X dlc=%u data[0]=%u data[1]=%u\n", identifier & protocol::kIdentifierMask,
                  identifier & protocol::kBaseMask, static_cast<unsigned>(frame.dlc()), static_cast<unsigned>(data[0]),
                  static_cast<unsigned>(data[1]));
    }
}

void SettingsChannel::abort_waits(FailureReason why) {
    read_slot_.abort(why);
    sequenced_slot_.abort(why);
    plain_ack_slot_.abort(why);
}

}  // namespace vk61
