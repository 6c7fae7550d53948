// UnitRegistry: the units on the bus, as discovery finds them.
//
// Holds one record per unit (identity, firmware, occupied and alive flags),
// the two occupancy masks of the last report and the hearing serial behind
// hearing_mark(). Fed by the receive thread (WHOAMI replies, occupancy
// reports, client-information replies, a USB reconnect); queried from any
// thread.
//
// Locks: registry_mutex_ guards every member below it. It is held only while
// the registry or the masks are read or changed: frames are sent and
// callbacks invoked after it is released, so a callback may query the
// registry without deadlocking. It is never taken inside a wait slot's lock
// (callers take the target mask or primary UID first), and the transmit lock
// is never held when it is taken.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

#include "bus_frame.h"
#include "device_info.h"
#include "link.h"

namespace vk61 {

class UnitRegistry {
public:
    explicit UnitRegistry(Link& link);
    UnitRegistry(const UnitRegistry&) = delete;
    UnitRegistry& operator=(const UnitRegistry&) = delete;

    std::vector<DeviceInfo> device_snapshot() const;
    // The unit single-unit requests go to.
    std::uint8_t primary_uid() const;
    // Units a sequenced command or a prepare must hear from (unit UIDs only, never 0).
    std::uint32_t target_mask() const;
    // A point in the stream of unit replies: units_heard_since(mark) names the
    // units heard after it was taken (bit n: UID n sent a WHOAMI or
    // client-information reply, or was marked alive by an occupancy report).
    std::uint64_t hearing_mark() const;
    std::uint32_t units_heard_since(std::uint64_t mark) const;

    // Broadcasts WHOAMI.
    bool send_whoami();
    // Sends WHOAMI again while connected (Discover step: NotConnected or
    // SendFailed otherwise).
    OperationResult rediscover();
    // Forgets every unit and both masks (a new connection).
    void clear();
    void set_devices_changed_callback(std::function<void()> callback);
    void set_reconnected_callback(std::function<void()> callback);
    // Drops both callbacks, destroying them outside the lock (disconnect()).
    void drop_callbacks();

    // ---- receive thread ----
    void handle_whoami_reply(const BusFrame& frame);
    void handle_occupancy_report(const BusFrame& frame);
    void handle_client_info_reply(const BusFrame& frame);
    // After the USB link was reopened: rediscovery and both callbacks.
    void on_usb_reconnected();

private:
    bool upsert_device(const DeviceInfo& record);  // registry lock held
    void note_heard(unsigned uid);                 // registry lock held

    Link& link_;
    mutable std::mutex registry_mutex_;
    std::vector<DeviceInfo> registry_;
    std::uint32_t occupied_mask_ = 0;
    std::uint32_t alive_mask_ = 0;
    std::function<void()> devices_changed_;
    std::function<void()> reconnected_;
    // Hearing serial: counts unit replies; last_heard_[uid] is the serial of
    // that unit's latest one (0 = never).
    std::uint64_t hearing_serial_ = 0;
    std::array<std::uint64_t, 16> last_heard_{};
};

}  // namespace vk61
