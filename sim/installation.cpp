#include "installation.h"

#include "report_codec.h"

#include <algorithm>
#include <thread>

namespace sim {

namespace {
constexpr std::uint16_t kReboot = 0x3B0;
constexpr std::uint16_t kEraseBlock = 0x430;
}  // namespace

Installation::Installation() = default;

Installation::~Installation() { scheduler_.stop(); }

// --- Units -------------------------------------------------------------------

Unit* Installation::find(std::uint8_t uid) {
    const auto it = units_.find(uid);
    return it == units_.end() ? nullptr : it->second.get();
}

const Unit* Installation::find(std::uint8_t uid) const {
    const auto it = units_.find(uid);
    return it == units_.end() ? nullptr : it->second.get();
}

void Installation::changed() {
    ++generation_;
    state_changed_.notify_all();
}

bool Installation::add_unit(const UnitSpec& unit_spec) {
    std::lock_guard lock(state_mutex_);
    if (unit_spec.uid < 1 || unit_spec.uid > 15 || units_.count(unit_spec.uid) != 0) return false;
    units_.emplace(unit_spec.uid, std::make_unique<Unit>(unit_spec));
    changed();
    return true;
}

bool Installation::remove_unit(std::uint8_t uid) {
    std::lock_guard lock(state_mutex_);
    if (units_.erase(uid) == 0) return false;
    reboot_ends_.erase(uid);
    changed();
    return true;
}

std::vector<std::uint8_t> Installation::unit_uids() const {
    std::lock_guard lock(state_mutex_);
    std::vector<std::uint8_t> uids;
    for (const auto& [uid, unit] : units_) uids.push_back(uid);
    return uids;
}

// --- Host side ---------------------------------------------------------------

std::uint64_t Installation::attach_host(HostSide side) {
    std::lock_guard lock(host_mutex_);
    host_ = std::move(side);
    return ++host_token_;
}

void Installation::detach_host(std::uint64_t token) {
    std::lock_guard lock(host_mutex_);
    if (token == host_token_) host_ = HostSide{};
}

void Installation::set_frame_observer(std::function<void(const vk61::BusFrame&)> observer) {
    std::lock_guard lock(state_mutex_);
    observer_ = std::move(observer);
}

void Installation::receive_from_host(const vk61::BusFrame& frame) {
    // The host-to-bridge endpoint: like a USB write, the sender waits until
    // its report has crossed (bounded by the reports already queued on it).
    if (!pacing_.is_free()) {
        const auto crossed = pacing_.host_report(Clock::now());
        if (crossed > Clock::now()) std::this_thread::sleep_until(crossed);
    }

    std::vector<Reply> replies;
    std::optional<Fault> pull;
    std::function<void(const vk61::BusFrame&)> observer;
    {
        std::lock_guard lock(state_mutex_);
        const auto now = Clock::now();
        log_.push_back(HostFrame{frame, now});
        while (log_.size() > log_limit_) log_.pop_front();
        ++frames_total_;
        pull = faults_.on_host_frame(frame);
        // A frame that meets a pulled cable never reaches the bus.
        if (!pull) route(frame, now, faults_.lost_host_frame(frame), replies);
        observer = observer_;
        changed();
    }
    if (observer) observer(frame);
    if (pull) {
        pull_cable_for(*pull);
        return;
    }
    send(std::move(replies));
}

void Installation::route(const vk61::BusFrame& frame, Clock::time_point now, std::uint32_t lost_for,
                         std::vector<Reply>& out) {
    if (lost_for == FaultTable::kAllUnits) return;
    if (frame.base() == kReboot) {
        if (frame.payload_size() < 1 || frame.data()[0] != 0x48) return;
        bool any = false;
        for (auto& [uid, unit] : units_) {
            if (unit->rebooting()) continue;
            unit->begin_reboot();
            reboot_ends_[uid] = now + reboot_duration_;
            any = true;
        }
        if (!any) return;
        if (reboot_duration_.count() == 0) {
            for (auto& [uid, unit] : units_) {
                if (unit->rebooting()) unit->finish_reboot();
            }
            reboot_ends_.clear();
            out.push_back(occupancy_now(kReboot));
        } else {
            scheduler_.post_at(now + reboot_duration_, [this] { finish_due_reboots(); });
        }
        return;
    }
    for (auto& [uid, unit] : units_) {
        if (unit->rebooting() || (lost_for & (1u << uid)) != 0) continue;
        unit->handle(frame, out);
    }
}

void Installation::finish_due_reboots() {
    std::vector<Reply> replies;
    {
        std::lock_guard lock(state_mutex_);
        const auto now = Clock::now();
        bool any = false;
        for (auto it = reboot_ends_.begin(); it != reboot_ends_.end();) {
            if (it->second > now) {
                ++it;
                continue;
            }
            if (Unit* unit = find(it->first)) unit->finish_reboot();
            it = reboot_ends_.erase(it);
            any = true;
        }
        if (!any) return;
        replies.push_back(occupancy_now(kReboot));
        changed();
    }
    send(std::move(replies));
}

// --- Timing ------------------------------------------------------------------

void Installation::set_latency(std::chrono::microseconds latency) {
    std::lock_guard lock(state_mutex_);
    latency_ = std::max(latency, std::chrono::microseconds(0));
}

void Installation::set_whoami_at_once(bool at_once) {
    std::lock_guard lock(state_mutex_);
    whoami_at_once_ = at_once;
}

void Installation::set_reboot_duration(std::chrono::milliseconds duration) {
    std::lock_guard lock(state_mutex_);
    reboot_duration_ = std::max(duration, std::chrono::milliseconds(0));
}

void Installation::set_bridge_costs(const BridgeCosts& costs) { pacing_.set_costs(costs); }

void Installation::set_occupancy_interval(std::chrono::milliseconds interval) {
    std::uint64_t epoch = 0;
    {
        std::lock_guard lock(state_mutex_);
        occupancy_interval_ = std::max(interval, std::chrono::milliseconds(0));
        epoch = ++occupancy_epoch_;  // ends the tick chain of an earlier interval
        if (occupancy_interval_.count() == 0) return;
    }
    scheduler_.post_at(Clock::now() + interval, [this, epoch] { occupancy_tick(epoch); });
}

void Installation::occupancy_tick(std::uint64_t epoch) {
    std::chrono::milliseconds interval{0};
    {
        std::lock_guard lock(state_mutex_);
        if (epoch != occupancy_epoch_) return;
        interval = occupancy_interval_;
    }
    send_occupancy_report();
    scheduler_.post_at(Clock::now() + interval, [this, epoch] { occupancy_tick(epoch); });
}

// --- Unasked traffic -----------------------------------------------------------

Reply Installation::occupancy_reply(std::uint16_t command, std::uint32_t occupied, std::uint32_t alive) const {
    std::uint8_t p[9] = {'r'};
    vk61::put_u32(p + 1, occupied);
    vk61::put_u32(p + 5, alive);
    return Reply{ReplyKind::Occupancy, command, 0, vk61::make_frame(0, 0x790, 9, p, sizeof p)};
}

Reply Installation::occupancy_now(std::uint16_t command) const {
    std::uint32_t occupied = 0;
    std::uint32_t alive = 0;
    for (const auto& [uid, unit] : units_) {
        occupied |= 1u << uid;
        if (!unit->rebooting()) alive |= 1u << uid;
    }
    return occupancy_reply(command, occupied, alive);
}

void Installation::send_occupancy_report() {
    std::vector<Reply> replies;
    {
        std::lock_guard lock(state_mutex_);
        replies.push_back(occupancy_now(0));
    }
    send(std::move(replies));
}

void Installation::send_occupancy_report(std::uint32_t occupied, std::uint32_t alive) {
    send({occupancy_reply(0, occupied, alive)});
}

void Installation::inject_to_host(const vk61::BusFrame& frame) { to_host(frame); }

void Installation::inject_raw_report(std::vector<std::uint8_t> report) { raw_to_host(std::move(report)); }

// --- Sending -------------------------------------------------------------------

void Installation::send(std::vector<Reply> replies) {
    if (replies.empty()) return;
    std::vector<Outgoing> out;
    std::chrono::microseconds latency{0};
    bool whoami_at_once = false;
    {
        std::lock_guard lock(state_mutex_);
        out = faults_.apply(std::move(replies));
        latency = latency_;
        whoami_at_once = whoami_at_once_;
    }
    const auto now = Clock::now();
    for (const auto& o : out) {
        const bool at_once = whoami_at_once && o.kind == ReplyKind::WhoAmI;
        const auto delay = (at_once ? std::chrono::microseconds{0} : latency) +
                           std::chrono::duration_cast<std::chrono::microseconds>(o.delay);
        auto ready = now + delay;
        // An erase is only reported done once the unit's flash has erased it.
        if (o.kind == ReplyKind::FlashReply && o.command == kEraseBlock) ready = pacing_.erase_block(o.uid, ready);
        if (ready <= now) {
            to_host(o.frame);
        } else {
            scheduler_.post_at(ready, [this, frame = o.frame] { to_host(frame); });
        }
    }
}

void Installation::to_host(const vk61::BusFrame& frame) {
    if (pacing_.is_free()) {
        emit_frame(frame);
        return;
    }
    const auto now = Clock::now();
    const auto crossed = pacing_.device_report(now, input_report_size(frame));
    if (crossed <= now) {
        emit_frame(frame);
    } else {
        scheduler_.post_at(crossed, [this, frame] { emit_frame(frame); });
    }
}

void Installation::raw_to_host(std::vector<std::uint8_t> report) {
    if (pacing_.is_free()) {
        emit_raw(report);
        return;
    }
    const auto now = Clock::now();
    const auto crossed = pacing_.device_report(now, report.size());
    if (crossed <= now) {
        emit_raw(report);
    } else {
        scheduler_.post_at(crossed, [this, report = std::move(report)] { emit_raw(report); });
    }
}

void Installation::emit_frame(const vk61::BusFrame& frame) {
    std::lock_guard lock(host_mutex_);
    if (host_.frame) host_.frame(frame);
    if (reply_observer_) reply_observer_(frame);
}

void Installation::set_reply_observer(std::function<void(const vk61::BusFrame&)> observer) {
    std::lock_guard lock(host_mutex_);
    reply_observer_ = std::move(observer);
}

void Installation::emit_raw(const std::vector<std::uint8_t>& report) {
    std::lock_guard lock(host_mutex_);
    if (host_.raw_report) host_.raw_report(report);
}

void Installation::pull_cable_for(const Fault& fault) {
    {
        std::lock_guard lock(host_mutex_);
        if (host_.pull_cable) host_.pull_cable();
    }
    if (fault.value == 0) return;
    scheduler_.post_at(Clock::now() + std::chrono::milliseconds(fault.value), [this] {
        std::lock_guard lock(host_mutex_);
        if (host_.plug_cable) host_.plug_cable();
    });
}

// --- Faults --------------------------------------------------------------------

void Installation::add_fault(const Fault& fault) {
    std::lock_guard lock(state_mutex_);
    faults_.add(fault);
}

void Installation::clear_faults() {
    std::lock_guard lock(state_mutex_);
    faults_.clear();
}

std::size_t Installation::armed_faults() const {
    std::lock_guard lock(state_mutex_);
    return faults_.armed();
}

// --- Unit set-up ---------------------------------------------------------------

bool Installation::set_firmware_address(std::uint8_t uid, std::uint32_t address) {
    std::lock_guard lock(state_mutex_);
    Unit* unit = find(uid);
    if (unit == nullptr) return false;
    unit->set_firmware_address(address);
    return true;
}

bool Installation::set_ram_element(std::uint8_t uid, unsigned index, std::uint32_t value) {
    std::lock_guard lock(state_mutex_);
    Unit* unit = find(uid);
    return unit != nullptr && set_config_element(unit->ram(), index, value);
}

bool Installation::set_eeprom_element(std::uint8_t uid, unsigned index, std::uint32_t value) {
    std::lock_guard lock(state_mutex_);
    Unit* unit = find(uid);
    return unit != nullptr && set_config_element(unit->eeprom(), index, value);
}

void Installation::forget_flash_history() {
    std::lock_guard lock(state_mutex_);
    for (auto& [uid, unit] : units_) unit->forget_flash_history();
}

bool Installation::preload_flash(std::uint8_t uid, std::uint32_t address, const std::vector<std::uint8_t>& bytes) {
    std::lock_guard lock(state_mutex_);
    Unit* unit = find(uid);
    return unit != nullptr && unit->flash().load(address, bytes.data(), bytes.size());
}

// --- Inspection ----------------------------------------------------------------

std::optional<std::uint32_t> Installation::ram_element(std::uint8_t uid, unsigned index) const {
    std::lock_guard lock(state_mutex_);
    const Unit* unit = find(uid);
    if (unit == nullptr) return std::nullopt;
    return config_element(unit->ram(), index);
}

std::optional<std::uint32_t> Installation::eeprom_element(std::uint8_t uid, unsigned index) const {
    std::lock_guard lock(state_mutex_);
    const Unit* unit = find(uid);
    if (unit == nullptr) return std::nullopt;
    return config_element(unit->eeprom(), index);
}

std::optional<ConfigImage> Installation::ram_image(std::uint8_t uid) const {
    std::lock_guard lock(state_mutex_);
    const Unit* unit = find(uid);
    if (unit == nullptr) return std::nullopt;
    return unit->ram();
}

std::optional<ConfigImage> Installation::eeprom_image(std::uint8_t uid) const {
    std::lock_guard lock(state_mutex_);
    const Unit* unit = find(uid);
    if (unit == nullptr) return std::nullopt;
    return unit->eeprom();
}

std::vector<std::uint8_t> Installation::flash_bytes(std::uint8_t uid, std::uint32_t address, std::size_t len) const {
    std::lock_guard lock(state_mutex_);
    const Unit* unit = find(uid);
    if (unit == nullptr) return {};
    return unit->flash().read(address, len);
}

std::optional<UnitStatus> Installation::unit_status(std::uint8_t uid) const {
    std::lock_guard lock(state_mutex_);
    const Unit* unit = find(uid);
    if (unit == nullptr) return std::nullopt;
    UnitStatus s;
    s.uid = unit->uid();
    s.device_id = unit->device_id();
    s.firmware = unit->firmware();
    s.firmware_address = unit->firmware_address();
    s.write_pointer = unit->write_pointer();
    s.db_open = unit->db_open();
    s.rebooting = unit->rebooting();
    s.flash_faults = unit->flash_faults();
    return s;
}

std::vector<HostFrame> Installation::host_frames() const {
    std::lock_guard lock(state_mutex_);
    return {log_.begin(), log_.end()};
}

std::size_t Installation::host_frame_count() const {
    std::lock_guard lock(state_mutex_);
    return frames_total_;
}

void Installation::clear_host_frames() {
    std::lock_guard lock(state_mutex_);
    log_.clear();
    frames_total_ = 0;
}

void Installation::set_frame_log_limit(std::size_t limit) {
    std::lock_guard lock(state_mutex_);
    log_limit_ = limit;
    while (log_.size() > log_limit_) log_.pop_front();
}

// Waits on the state condition for a change of generation_, evaluating the
// condition with the lock released each time; bounded by the timeout.
bool Installation::wait_until(const std::function<bool()>& condition, std::chrono::milliseconds timeout) const {
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        std::uint64_t seen = 0;
        {
            std::lock_guard lock(state_mutex_);
            seen = generation_;
        }
        if (condition()) return true;
        std::unique_lock lock(state_mutex_);
        if (!state_changed_.wait_until(lock, deadline, [&] { return generation_ != seen; })) {
            lock.unlock();
            return condition();
        }
    }
}

}  // namespace sim
