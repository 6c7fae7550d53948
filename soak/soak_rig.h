// The soak's installation: simulated units behind the in-process bridge, the
// engine connected to them through the real HidTransport and virtual_hidapi,
// and the steps that bring everything back between two operations.
//
// Every check of what a unit holds asks the simulator, never the engine.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "bridge.h"
#include "comms_manager.h"
#include "installation.h"

namespace soak {

class SoakRig {
public:
    // units default units (UIDs 1..units), replies after latency (0: from
    // inside the host's write), an occupancy report every second as on a
    // real bus.
    SoakRig(unsigned units, std::chrono::microseconds latency);
    ~SoakRig();  // disconnects the engine, then detaches the bridge
    SoakRig(const SoakRig&) = delete;
    SoakRig& operator=(const SoakRig&) = delete;

    sim::Installation& bus() { return bus_; }
    const sim::Installation& bus() const { return bus_; }
    vk61::CommsManager& comms() { return *comms_; }
    const std::vector<std::uint8_t>& uids() const { return uids_; }

    // Connects and waits up to 5 s until the engine knows every unit as
    // identified and alive. False with a reason otherwise.
    bool connect(std::string* problem);

    // Fills both transfer areas of every unit with zeros, so that any write
    // the engine makes without erasing first is counted by the NOR model.
    void fill_transfer_areas(std::uint32_t airport_bytes, std::uint32_t firmware_bytes);

    // After an operation: clears the faults, then waits for the cable (a
    // pending replug, up to replug_limit), for the units to finish a reboot
    // (up to reboot_limit), for the engine to reopen the link (up to 5 s) and
    // to know every unit as identified and alive again (up to 5 s). A step
    // that does not happen in time ends it with false and the step named.
    bool recover(std::chrono::milliseconds replug_limit, std::chrono::milliseconds reboot_limit, std::string* problem);

    // Asks the engine for one setting of its primary unit (waits up to
    // timeout) and compares the answer with what that unit holds.
    bool setting_read_answers(std::uint8_t index, std::chrono::milliseconds timeout, std::string* problem);

    // Sums over every unit of the simulator's flash fault counters.
    std::size_t unerased_writes() const;
    std::size_t open_db_writes() const;
    // "UID n: k bytes from 0x..." for every unit that has unerased writes.
    std::string unerased_detail() const;

private:
    // Waits up to timeout until the engine's registry shows every unit
    // identified and alive, nudging it with an occupancy report now and then
    // (a WHOAMI reply clears a unit's flags until the next report).
    bool wait_units_alive(std::chrono::milliseconds timeout);

    sim::Installation bus_;
    sim::Bridge bridge_{bus_};
    std::unique_ptr<vk61::CommsManager> comms_ = std::make_unique<vk61::CommsManager>();
    std::vector<std::uint8_t> uids_;
};

}  // namespace soak
