#include "soak_rig.h"

#include <algorithm>
#include <cstdio>
#include <thread>

#include "default_installation.h"
#include "virtual_hidapi_control.h"

namespace soak {

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr auto kOccupancyInterval = 1000ms;
constexpr auto kLinkLimit = 5000ms;
constexpr auto kUnitsLimit = 5000ms;
constexpr std::size_t kFrameLogLimit = 20000;

// Polls condition() every 2 ms until it holds; false once timeout passed. For
// states nobody signals (the cable flag, the engine's link and registry).
template <class Condition>
bool poll_until(Condition condition, std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (!condition()) {
        if (Clock::now() >= deadline) return condition();
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

}  // namespace

SoakRig::SoakRig(unsigned units, std::chrono::microseconds latency) {
    sim::add_default_units(bus_, units);
    uids_ = bus_.unit_uids();
    bus_.set_latency(latency);
    bus_.set_frame_log_limit(kFrameLogLimit);
    bus_.set_occupancy_interval(kOccupancyInterval);
}

SoakRig::~SoakRig() {
    comms_.reset();
    vhid::attach_bridge(nullptr);
}

bool SoakRig::connect(std::string* problem) {
    vhid::attach_bridge(&bridge_);
    if (const vk61::OperationResult connected = comms_->connect(); !connected) {
        *problem = "connect() failed: " + vk61::describe(connected);
        return false;
    }
    if (!wait_units_alive(kUnitsLimit)) {
        *problem = "the engine did not learn every unit";
        return false;
    }
    return true;
}

void SoakRig::fill_transfer_areas(std::uint32_t airport_bytes, std::uint32_t firmware_bytes) {
    for (std::uint8_t uid : uids_) {
        bus_.preload_flash(uid, 0, std::vector<std::uint8_t>(airport_bytes, 0x00));
        const auto status = bus_.unit_status(uid);
        if (status) bus_.preload_flash(uid, status->firmware_address, std::vector<std::uint8_t>(firmware_bytes, 0x00));
    }
}

bool SoakRig::wait_units_alive(std::chrono::milliseconds timeout) {
    const auto all_alive = [this] {
        const std::vector<vk61::DeviceInfo> devices = comms_->device_snapshot();
        return std::all_of(uids_.begin(), uids_.end(), [&](std::uint8_t uid) {
            return std::any_of(devices.begin(), devices.end(), [&](const vk61::DeviceInfo& d) {
                return d.uid == uid && !d.is_placeholder() && d.alive;
            });
        });
    };
    const auto deadline = Clock::now() + timeout;
    while (!all_alive()) {
        if (Clock::now() >= deadline) return false;
        bus_.send_occupancy_report();
        poll_until(all_alive, 100ms);
    }
    return true;
}

bool SoakRig::recover(std::chrono::milliseconds replug_limit, std::chrono::milliseconds reboot_limit,
                      std::string* problem) {
    // No fault may act from here on, so nothing can pull the cable again
    // while it is brought back.
    bus_.clear_faults();
    if (!poll_until([] { return vhid::cable_plugged(); }, replug_limit)) {
        *problem = "the cable was not plugged back";
        return false;
    }
    const auto no_reboot = [this] {
        return std::none_of(uids_.begin(), uids_.end(), [this](std::uint8_t uid) {
            const auto status = bus_.unit_status(uid);
            return status && status->rebooting;
        });
    };
    if (!bus_.wait_until(no_reboot, reboot_limit)) {
        *problem = "the units did not come back from the reboot";
        return false;
    }
    if (!poll_until([this] { return comms_->is_connected(); }, kLinkLimit)) {
        *problem = "the engine did not reopen the link";
        return false;
    }
    if (!wait_units_alive(kUnitsLimit)) {
        *problem = "the engine did not see every unit alive again";
        return false;
    }
    return true;
}

bool SoakRig::setting_read_answers(std::uint8_t index, std::chrono::milliseconds timeout, std::string* problem) {
    const std::uint8_t uid = comms_->primary_uid();
    std::uint32_t got = 0;
    const vk61::OperationResult read = comms_->read_setting_value(index, static_cast<unsigned>(timeout.count()), &got);
    if (!read) {
        *problem = "read_setting of index " + std::to_string(index) + " failed (" + vk61::describe(read) + ")";
        return false;
    }
    const auto held = bus_.ram_element(uid, index);
    if (!held || *held != got) {
        *problem = "read_setting of index " + std::to_string(index) + " returned " + std::to_string(got) +
                   ", the unit holds " + (held ? std::to_string(*held) : std::string("nothing"));
        return false;
    }
    return true;
}

std::size_t SoakRig::unerased_writes() const {
    std::size_t total = 0;
    for (std::uint8_t uid : uids_) {
        if (const auto s = bus_.unit_status(uid)) total += s->flash_faults.unerased_writes;
    }
    return total;
}

std::size_t SoakRig::open_db_writes() const {
    std::size_t total = 0;
    for (std::uint8_t uid : uids_) {
        if (const auto s = bus_.unit_status(uid)) total += s->flash_faults.open_db_writes;
    }
    return total;
}

std::string SoakRig::unerased_detail() const {
    std::string out;
    for (std::uint8_t uid : uids_) {
        const auto s = bus_.unit_status(uid);
        if (!s || s->flash_faults.unerased_writes == 0) continue;
        char line[96];
        std::snprintf(line, sizeof line, "UID %u: %zu bytes, first at 0x%08X; ", unsigned{uid},
                      s->flash_faults.unerased_writes, s->flash_faults.first_unerased_address);
        out += line;
    }
    return out;
}

}  // namespace soak
