// Device discovery: the unit registry, the three frames that feed it
// (WHOAMI replies, bus occupancy reports, client-information replies), the
// registry queries, and what follows a USB reconnect on the receive thread.
//
// Every handler here runs on the receive thread. The registry lock is held
// only while the registry or the masks are read or changed: frames are sent
// and callbacks invoked after it is released, so a callback may query the
// registry (device_snapshot, primary_uid) without deadlocking.
#include "unit_registry.h"

#include <utility>

#include "debug_log.h"
#include "protocol.h"
#include "uid_mask.h"

namespace vk61 {

namespace {

constexpr unsigned kLowestUid = 1;
constexpr unsigned kHighestUid = protocol::kHighestUid;

bool flags_differ(const DeviceInfo& a, const DeviceInfo& b) { return a.occupied != b.occupied || a.alive != b.alive; }

}  // namespace

UnitRegistry::UnitRegistry(Link& link) : link_(link) {}

bool UnitRegistry::send_whoami() {
    return link_.send_command(protocol::kWhoami, protocol::kDlcWhoamiRequest, protocol::kWhoamiRequest,
                              sizeof protocol::kWhoamiRequest);
}

void UnitRegistry::clear() {
    std::lock_guard lock(registry_mutex_);
    registry_.clear();
    occupied_mask_ = 0;
    alive_mask_ = 0;
}

void UnitRegistry::set_devices_changed_callback(std::function<void()> callback) {
    std::function<void()> old;
    {
        std::lock_guard lock(registry_mutex_);
        old = std::exchange(devices_changed_, std::move(callback));
    }
    // The old callback is destroyed here, outside the lock: it may own
    // captures whose destructors must not run under the registry lock.
}

void UnitRegistry::set_reconnected_callback(std::function<void()> callback) {
    std::function<void()> old;
    {
        std::lock_guard lock(registry_mutex_);
        old = std::exchange(reconnected_, std::move(callback));
    }
}

void UnitRegistry::drop_callbacks() {
    std::function<void()> devices_changed;
    std::function<void()> reconnected;
    {
        std::lock_guard lock(registry_mutex_);
        devices_changed = std::move(devices_changed_);
        reconnected = std::move(reconnected_);
        devices_changed_ = nullptr;
        reconnected_ = nullptr;
    }
}

std::vector<DeviceInfo> UnitRegistry::device_snapshot() const {
    std::lock_guard lock(registry_mutex_);
    return registry_;
}

// The unit single-unit requests go to: the lowest alive UID, else the lowest
// occupied one, else the smallest non-zero UID known, else 1.
std::uint8_t UnitRegistry::primary_uid() const {
    std::lock_guard lock(registry_mutex_);
    if (const std::uint8_t uid = lowest_uid(alive_mask_)) return uid;
    if (const std::uint8_t uid = lowest_uid(occupied_mask_)) return uid;
    std::uint8_t smallest = 0;
    for (const DeviceInfo& record : registry_) {
        if (record.uid != 0 && (smallest == 0 || record.uid < smallest)) smallest = record.uid;
    }
    return smallest != 0 ? smallest : static_cast<std::uint8_t>(kLowestUid);
}

// Units a sequenced command must hear from. Bit 0 never counts, and only unit
// UIDs (1 to the highest) do: an acknowledgement from any other UID is never
// accepted, so its bit could never clear and the command would always time out.
std::uint32_t UnitRegistry::target_mask() const {
    std::lock_guard lock(registry_mutex_);
    std::uint32_t mask = alive_mask_;
    if (mask == 0) mask = occupied_mask_;
    if (mask == 0) {
        for (const DeviceInfo& record : registry_) {
            if (record.uid != 0) mask |= uid_bit(record.uid);
        }
        if (registry_.empty()) mask = uid_bit(1);
    }
    mask &= protocol::kUnitUidBits;
    return mask != 0 ? mask : uid_bit(1);
}

std::uint64_t UnitRegistry::hearing_mark() const {
    std::lock_guard lock(registry_mutex_);
    return hearing_serial_;
}

std::uint32_t UnitRegistry::units_heard_since(std::uint64_t mark) const {
    std::lock_guard lock(registry_mutex_);
    std::uint32_t heard = 0;
    for (unsigned uid = kLowestUid; uid <= kHighestUid; ++uid) {
        if (last_heard_[uid] > mark) heard |= uid_bit(uid);
    }
    return heard;
}

// Registry lock held. Notes that the unit just answered.
void UnitRegistry::note_heard(unsigned uid) {
    if (uid < kLowestUid || uid > kHighestUid) return;
    last_heard_[uid] = ++hearing_serial_;
}

OperationResult UnitRegistry::rediscover() {
    if (!link_.is_connected()) return OperationResult::failure(OperationStep::Discover, FailureReason::NotConnected);
    debug_log("Rediscovering devices...\n");
    if (send_whoami()) return OperationResult::success();
    debug_log("Failed to send WHOAMI during rediscovery\n");
    return OperationResult::failure(OperationStep::Discover, FailureReason::SendFailed);
}

// Registry lock held. Finds the record R belongs to (by UID; for a known
// device id also by device id, which follows a unit that moved to another
// UID) or appends R. Returns whether anything a user could see changed.
bool UnitRegistry::upsert_device(const DeviceInfo& record) {
    if (registry_.empty()) {
        registry_.push_back(record);
        return true;
    }

    if (!record.is_placeholder()) {
        for (DeviceInfo& existing : registry_) {
            if (existing.uid == record.uid) {
                const bool changed = existing.device_id != record.device_id || existing.firmware != record.firmware ||
                                     flags_differ(existing, record);
                existing.device_id = record.device_id;
                existing.firmware = record.firmware;
                existing.occupied = record.occupied;
                existing.alive = record.alive;
                return changed;
            }
            if (existing.device_id == record.device_id) {
                existing.uid = record.uid;
                existing.firmware = record.firmware;
                existing.occupied = record.occupied;
                existing.alive = record.alive;
                return true;
            }
        }
    } else {
        for (DeviceInfo& existing : registry_) {
            if (existing.uid != record.uid) continue;
            const bool same_identity = existing.is_placeholder() && existing.firmware == record.firmware;
            const bool changed = !same_identity || flags_differ(existing, record);
            // The device id stays: a reply that does not know it must not
            // erase what an earlier one told.
            existing.firmware = record.firmware;
            existing.occupied = record.occupied;
            existing.alive = record.alive;
            return changed;
        }
    }

    registry_.push_back(record);
    return true;
}

// Receive thread. A WHOAMI reply identifies a unit and clears its occupied and
// alive flags until the next occupancy report or client-information reply.
void UnitRegistry::handle_whoami_reply(const BusFrame& frame) {
    const std::uint8_t* d = frame.data();
    DeviceInfo record;
    record.device_id = get_u32(d);
    record.firmware = get_u32(d + 4);
    record.uid = d[8];

    bool changed = false;
    std::function<void()> callback;
    {
        std::lock_guard lock(registry_mutex_);
        changed = upsert_device(record);
        note_heard(record.uid);
        callback = devices_changed_;
    }
    if (!changed) return;

    debug_log("WHOAMI: device 0x%08X UID 0x%02X firmware %u.%u.%u (rc %u)\n", record.device_id,
              static_cast<unsigned>(record.uid), protocol::firmware_major(record.firmware),
              protocol::firmware_minor(record.firmware), protocol::firmware_patch(record.firmware),
              protocol::firmware_candidate(record.firmware));
    if (callback) callback();
}

// Receive thread. Stores the masks, refreshes the flags of known units, keeps
// a placeholder for every present UID nobody has identified yet, and asks
// each present unit who it is. The callback runs after every report.
void UnitRegistry::handle_occupancy_report(const BusFrame& frame) {
    const std::uint8_t* d = frame.data();
    const std::uint32_t occupied = get_u32(d + 1) & ~1u;
    const std::uint32_t alive = get_u32(d + 5) & ~1u;
    const std::uint32_t present = occupied | alive;

    std::function<void()> callback;
    {
        std::lock_guard lock(registry_mutex_);
        occupied_mask_ = occupied;
        alive_mask_ = alive;

        for (unsigned uid = kLowestUid; uid <= kHighestUid; ++uid) {
            const bool is_occupied = (occupied & uid_bit(uid)) != 0;
            const bool is_alive = (alive & uid_bit(uid)) != 0;
            if (is_alive) note_heard(uid);
            DeviceInfo* found = nullptr;
            for (DeviceInfo& record : registry_) {
                if (record.uid == uid) {
                    found = &record;
                    break;
                }
            }
            if (found != nullptr) {
                found->occupied = is_occupied;
                found->alive = is_alive;
            } else if (present & uid_bit(uid)) {
                DeviceInfo placeholder;
                placeholder.device_id = DeviceInfo::kUnknownDeviceId;
                placeholder.firmware = 0;
                placeholder.uid = static_cast<std::uint8_t>(uid);
                placeholder.occupied = is_occupied;
                placeholder.alive = is_alive;
                registry_.push_back(placeholder);
            }
        }

        // A placeholder lives only while the bus calls its UID occupied;
        // identified units stay whatever the masks say.
        std::erase_if(registry_, [occupied](const DeviceInfo& record) {
            return record.is_placeholder() && record.uid <= kHighestUid && (occupied & uid_bit(record.uid)) == 0;
        });
        callback = devices_changed_;
    }

    debug_log("ZEQBUS: occupied=0x%08X alive=0x%08X\n", occupied, alive);
    for (unsigned uid = kLowestUid; uid <= kHighestUid; ++uid) {
        if ((present & uid_bit(uid)) == 0) continue;
        const std::uint8_t payload[] = {protocol::kClientInfoRequest, static_cast<std::uint8_t>(uid)};
        if (!link_.send_command(protocol::kClientInfo, 2, payload, sizeof payload)) {
            debug_log("ZEQBUS: failed to request client info for UID %u\n", uid);
        }
    }
    if (callback) callback();
}

// Receive thread. A client-information reply identifies a unit; its flags
// come from the masks of the last occupancy report.
void UnitRegistry::handle_client_info_reply(const BusFrame& frame) {
    const std::uint8_t* d = frame.data();
    if (d[0] > kHighestUid) return;

    bool changed = false;
    std::function<void()> callback;
    {
        std::lock_guard lock(registry_mutex_);
        DeviceInfo record;
        record.uid = d[0];
        record.device_id = get_u32(d + 1);
        record.firmware = get_u32(d + 5);
        record.occupied = (occupied_mask_ & uid_bit(record.uid)) != 0;
        record.alive = (alive_mask_ & uid_bit(record.uid)) != 0;
        changed = upsert_device(record);
        note_heard(record.uid);
        callback = devices_changed_;
    }
    if (changed && callback) callback();
}

// Receive thread, once the USB link was reopened. The registry is kept: the
// WHOAMI replies that follow refresh it.
void UnitRegistry::on_usb_reconnected() {
    if (link_.is_connected()) {
        debug_log("Rediscovering devices...\n");
        if (!send_whoami()) debug_log("Failed to send WHOAMI during rediscovery\n");
    }

    std::function<void()> devices_changed;
    std::function<void()> reconnected;
    {
        std::lock_guard lock(registry_mutex_);
        devices_changed = devices_changed_;
        reconnected = reconnected_;
    }
    if (devices_changed) devices_changed();
    if (reconnected) reconnected();
}

}  // namespace vk61
