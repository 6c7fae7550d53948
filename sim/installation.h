// The simulated installation: a bus with any number of units, the frames the
// host sent, the fault modes, and the timing of replies.
//
// Thread-safe. A bridge (sim::Bridge in-process, sim::WireServer over the wire)
// attaches a HostSide and hands every host frame to receive_from_host(); the
// installation answers through the HostSide, either synchronously from inside
// receive_from_host() (latency 0, the default) or from its scheduler thread.
//
// Lock order: the state lock is never held while the host side is called; the
// host-side lock (held while a HostSide callback runs) is taken with no other
// installation lock held. HostSide callbacks must therefore not call back into
// the installation.
#pragma once

#include "bridge_pacing.h"
#include "bus_frame.h"
#include "config_image.h"
#include "fault.h"
#include "fault_table.h"
#include "scheduler.h"
#include "unit.h"

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace sim {

// One frame as the bus received it from the host.
struct HostFrame {
    vk61::BusFrame frame;
    std::chrono::steady_clock::time_point at;
};

// What a test can learn about one unit in one call.
struct UnitStatus {
    std::uint8_t uid = 0;
    std::uint32_t device_id = 0;
    std::uint32_t firmware = 0;
    std::uint32_t firmware_address = 0;  // what it answers to the prepare command
    std::uint32_t write_pointer = 0;     // current flash address (set address, advanced by writes)
    bool db_open = true;
    bool rebooting = false;
    FlashFaults flash_faults;
};

// How the installation reaches the host. Every member may be empty.
struct HostSide {
    std::function<void(const vk61::BusFrame&)> frame;                  // one frame for the host
    std::function<void(const std::vector<std::uint8_t>&)> raw_report;  // one input report as it is
    std::function<void()> pull_cable;                                  // drop the host connection
    std::function<void()> plug_cable;                                  // allow it again
};

class Installation {
public:
    using Clock = std::chrono::steady_clock;

    Installation();
    ~Installation();  // joins the scheduler thread; detach bridges first
    Installation(const Installation&) = delete;
    Installation& operator=(const Installation&) = delete;

    // --- Units -------------------------------------------------------------
    // Adds a unit with the default configuration. False if the UID is not
    // 1-15 or already taken.
    bool add_unit(const UnitSpec& unit_spec);
    bool remove_unit(std::uint8_t uid);
    std::vector<std::uint8_t> unit_uids() const;  // ascending

    // --- Host side (for bridges) ---------------------------------------------
    // Replaces the host side; returns a token for detach_host().
    std::uint64_t attach_host(HostSide side);
    // Clears the host side if it is still the one of the token. Waits for a
    // host-side callback in progress to return, so the bridge may be destroyed
    // afterwards.
    void detach_host(std::uint64_t token);
    // One frame from the host: logged, counted against PullCable faults, then
    // handled by the bus and the units.
    void receive_from_host(const vk61::BusFrame& frame);
    // Called (outside every lock) with each frame the host sends; for the
    // standalone program's log. Empty to remove.
    void set_frame_observer(std::function<void(const vk61::BusFrame&)> observer);
    // Called with each frame that goes to the host, as it goes, with the
    // host-side lock held (so it must not call back into the installation);
    // for the standalone program's trace. Empty to remove.
    void set_reply_observer(std::function<void(const vk61::BusFrame&)> observer);

    // --- Timing --------------------------------------------------------------
    // Delay of every reply; 0 (default) answers from inside receive_from_host().
    void set_latency(std::chrono::microseconds latency);
    // How long a unit stays silent after the reboot command (default 1500 ms;
    // 0 reboots at once).
    void set_reboot_duration(std::chrono::milliseconds duration);
    // WHOAMI replies skip the latency and go out from inside
    // receive_from_host(), before any later reply (default off).
    void set_whoami_at_once(bool at_once);
    // Sends send_occupancy_report() every interval; 0 (default) stops it.
    void set_occupancy_interval(std::chrono::milliseconds interval);
    // What the bridge's endpoints and the units' flash erase cost (all 0 by
    // default). A host report holds its sender (hid_write, the wire server's
    // reader) until it has crossed; input reports reach the host one after
    // another, after the latency; an erase's flash reply waits for the erase.
    void set_bridge_costs(const BridgeCosts& costs);

    // --- Unasked traffic -------------------------------------------------------
    // Occupancy report: occupied = every unit present, alive = those not rebooting.
    void send_occupancy_report();
    void send_occupancy_report(std::uint32_t occupied, std::uint32_t alive);
    // Exactly this frame / these bytes to the host; faults do not apply.
    void inject_to_host(const vk61::BusFrame& frame);
    void inject_raw_report(std::vector<std::uint8_t> report);

    // --- Faults ----------------------------------------------------------------
    void add_fault(const Fault& fault);
    void clear_faults();
    std::size_t armed_faults() const;  // faults that may still act

    // --- Unit set-up -------------------------------------------------------------
    // Prepare reply of the unit; 0xFFFFFFFF makes it refuse.
    bool set_firmware_address(std::uint8_t uid, std::uint32_t address);
    bool set_ram_element(std::uint8_t uid, unsigned index, std::uint32_t value);
    bool set_eeprom_element(std::uint8_t uid, unsigned index, std::uint32_t value);
    // Forgets what every unit erased and wrote so far, so that the counts of
    // work done twice (FlashFaults) cover what follows only: one upload and
    // its resumption among many uploads to the same blocks.
    void forget_flash_history();
    // Places bytes in the unit's flash as they are, ignoring the NOR rule.
    bool preload_flash(std::uint8_t uid, std::uint32_t address, const std::vector<std::uint8_t>& bytes);

    // --- Inspection ----------------------------------------------------------------
    std::optional<std::uint32_t> ram_element(std::uint8_t uid, unsigned index) const;
    std::optional<std::uint32_t> eeprom_element(std::uint8_t uid, unsigned index) const;
    std::optional<ConfigImage> ram_image(std::uint8_t uid) const;
    std::optional<ConfigImage> eeprom_image(std::uint8_t uid) const;
    // Empty for an unknown unit; shorter when the range runs past the flash end.
    std::vector<std::uint8_t> flash_bytes(std::uint8_t uid, std::uint32_t address, std::size_t len) const;
    std::optional<UnitStatus> unit_status(std::uint8_t uid) const;

    // Every frame the host sent since the last clear, oldest first (the log
    // keeps the newest frame_log_limit ones; host_frame_count() counts all).
    std::vector<HostFrame> host_frames() const;
    std::size_t host_frame_count() const;
    void clear_host_frames();
    void set_frame_log_limit(std::size_t limit);  // default 200000

    // Blocks until condition() holds or the timeout passes; condition is
    // re-evaluated (with no installation lock held, so it may call the
    // inspection functions) after every change: host frame, reboot end, unit
    // added or removed. Returns the last result of condition().
    bool wait_until(const std::function<bool()>& condition, std::chrono::milliseconds timeout) const;

private:
    // lost_for: units the frame is lost for (LoseHostFrame faults).
    void route(const vk61::BusFrame& frame, Clock::time_point now, std::uint32_t lost_for, std::vector<Reply>& out);
    Reply occupancy_reply(std::uint16_t command, std::uint32_t occupied, std::uint32_t alive) const;
    Reply occupancy_now(std::uint16_t command) const;
    void finish_due_reboots();
    void occupancy_tick(std::uint64_t epoch);
    // Faults, then now or through the scheduler. Called with no lock held.
    void send(std::vector<Reply> replies);
    // Through the bridge-to-host endpoint: at once when it costs nothing,
    // else through the scheduler when the report has crossed. Call when the
    // report is ready, in that order.
    void to_host(const vk61::BusFrame& frame);
    void raw_to_host(std::vector<std::uint8_t> report);
    void emit_frame(const vk61::BusFrame& frame);
    void emit_raw(const std::vector<std::uint8_t>& report);
    void pull_cable_for(const Fault& fault);
    void changed();  // bumps generation_ and wakes wait_until(); state lock held
    Unit* find(std::uint8_t uid);
    const Unit* find(std::uint8_t uid) const;

    mutable std::mutex state_mutex_;
    mutable std::condition_variable state_changed_;
    // Guarded by state_mutex_:
    std::map<std::uint8_t, std::unique_ptr<Unit>> units_;
    FaultTable faults_;
    std::deque<HostFrame> log_;  // the newest log_limit_ frames
    std::size_t log_limit_ = 200000;
    std::size_t frames_total_ = 0;
    std::uint64_t generation_ = 0;
    std::chrono::microseconds latency_{0};
    bool whoami_at_once_ = false;
    std::chrono::milliseconds reboot_duration_{1500};
    std::chrono::milliseconds occupancy_interval_{0};
    std::uint64_t occupancy_epoch_ = 0;
    std::map<std::uint8_t, Clock::time_point> reboot_ends_;
    std::function<void(const vk61::BusFrame&)> observer_;
    std::function<void(const vk61::BusFrame&)> reply_observer_;  // guarded by host_mutex_

    BridgePacing pacing_;  // has its own lock

    // Held while a HostSide callback runs, so detach_host() can wait for it.
    std::mutex host_mutex_;
    HostSide host_;                 // guarded by host_mutex_
    std::uint64_t host_token_ = 0;  // guarded by host_mutex_

    // Last member: destroyed (joined) first, before anything its tasks touch.
    Scheduler scheduler_;
};

}  // namespace sim
