// Links, transmit path, receive thread and shutdown of the manager.
#include "comms_manager.h"
#include "protocol.h"

#include <chrono>
#include <utility>

#include "debug_log.h"

namespace vk61 {

namespace {
constexpr const char* kUsbName = "USB HID";
constexpr const char* kCanName = "CAN FD";
constexpr int kReceivePollMs = 10;
constexpr auto kReconnectInterval = std::chrono::milliseconds(500);
constexpr auto kLinkDownSleepHid = std::chrono::milliseconds(50);
constexpr auto kLinkDownSleepCan = std::chrono::milliseconds(10);
}  // namespace

CommsManager::CommsManager() = default;

CommsManager::~CommsManager() { disconnect(); }

void CommsManager::record_frames(FrameRecorder* recorder) {
    if (recorder == nullptr) {
        recorded_hid_.reset();
        recorded_can_.reset();
        return;
    }
    recorded_hid_ = std::make_unique<RecordingTransport>(hid_, *recorder);
    recorded_can_ = std::make_unique<RecordingTransport>(can_, *recorder);
}

Transport& CommsManager::link(InterfaceKind kind) {
    if (kind == InterfaceKind::CanFd) return recorded_can_ ? static_cast<Transport&>(*recorded_can_) : can_;
    return recorded_hid_ ? static_cast<Transport&>(*recorded_hid_) : hid_;
}

const Transport& CommsManager::link(InterfaceKind kind) const {
    if (kind == InterfaceKind::CanFd) return recorded_can_ ? static_cast<const Transport&>(*recorded_can_) : can_;
    return recorded_hid_ ? static_cast<const Transport&>(*recorded_hid_) : hid_;
}

bool CommsManager::is_connected() const { return link(kind_.load()).is_open(); }

bool CommsManager::transmit(InterfaceKind kind, const BusFrame& frame) {
    std::lock_guard lock(transmit_mutex_);
    Transport& l = link(kind);
    return l.is_open() && l.send(frame) > 0;
}

BusFrame CommsManager::build_frame(std::uint32_t identifier, std::uint8_t dlc, const std::uint8_t* payload,
                                   std::size_t len) const {
    return make_frame(static_cast<std::uint8_t>(kind_.load()), identifier, dlc, payload, len);
}

bool CommsManager::send_command(std::uint32_t identifier, std::uint8_t dlc, const std::uint8_t* payload,
                                std::size_t len) {
    return transmit(kind_.load(), build_frame(identifier, dlc, payload, len));
}

bool CommsManager::send_whoami() {
    return send_command(protocol::kWhoami, protocol::kDlcWhoamiRequest, protocol::kWhoamiRequest,
                        sizeof protocol::kWhoamiRequest);
}

bool CommsManager::reboot_devices() {
    if (!is_connected()) return false;
    return send_command(protocol::kReboot, protocol::kDlcReboot, &protocol::kRebootCommand, 1);
}

void CommsManager::set_devices_changed_callback(std::function<void()> callback) {
    std::function<void()> old;
    {
        std::lock_guard lock(registry_mutex_);
        old = std::exchange(devices_changed_, std::move(callback));
    }
    // The old callback is destroyed here, outside the lock: it may own
    // captures whose destructors must not run under the registry lock.
}

void CommsManager::set_reconnected_callback(std::function<void()> callback) {
    std::function<void()> old;
    {
        std::lock_guard lock(registry_mutex_);
        old = std::exchange(reconnected_, std::move(callback));
    }
}

bool CommsManager::connect() {
    struct Candidate {
        InterfaceKind kind;
        const char* name;
    };
    const Candidate candidates[] = {{InterfaceKind::UsbHid, kUsbName}, {InterfaceKind::CanFd, kCanName}};

    for (const Candidate& candidate : candidates) {
        if (disconnecting_) break;
        bool opened = false;
        if (candidate.kind == InterfaceKind::UsbHid) {
            debug_log("Attempting to connect to %s device 0x%04X:0x%04X\n", kUsbName, kUsbVendorId, kUsbProductId);
        } else {
            debug_log("%s unavailable, attempting %s interface: %s\n", kUsbName, kCanName, kCanInterfaceName);
        }
        opened = link(candidate.kind).open();
        if (!opened) {
            debug_log("Failed to connect to %s\n", candidate.name);
            continue;
        }

        debug_log("%s connected, starting RX thread...\n", candidate.name);
        kind_ = candidate.kind;
        {
            std::lock_guard lock(registry_mutex_);
            registry_.clear();
            occupied_mask_ = 0;
            alive_mask_ = 0;
        }
        start_receive_thread();
        debug_log("Sending WHOAMI...\n");
        if (send_whoami()) return true;

        debug_log("Failed to send WHOAMI on %s\n", candidate.name);
        stop_receive_thread();
        link(candidate.kind).close();
        kind_ = InterfaceKind::UsbHid;
    }

    debug_log("Failed to connect via USB HID or CAN FD\n");
    return false;
}

void CommsManager::start_receive_thread() {
    if (receiving_) return;
    stop_receiving_ = false;
    receiving_ = true;
    receive_thread_ = std::thread([this] { receive_loop(); });
}

void CommsManager::stop_receive_thread() {
    stop_receiving_ = true;
    if (receive_thread_.joinable()) receive_thread_.join();
    receiving_ = false;
    stop_receiving_ = false;
}

void CommsManager::receive_loop() {
    auto next_reconnect = std::chrono::steady_clock::now();
    bool link_was_up = true;
    while (!stop_receiving_) {
        const InterfaceKind kind = kind_.load();
        // A link that failed (a read or a write saw the cable go) ends every
        // wait at once: no answer can come over it any more.
        const bool link_up = is_connected();
        if (link_was_up && !link_up) abort_waits(FailureReason::LinkLost);
        link_was_up = link_up;
        if (kind != InterfaceKind::UsbHid && !link(kind).is_open()) {
            std::this_thread::sleep_for(kLinkDownSleepCan);
            continue;
        }
        if (kind == InterfaceKind::UsbHid && !link(kind).is_open()) {
            const auto now = std::chrono::steady_clock::now();
            if (now >= next_reconnect) {
                usb_reconnect_step();
                next_reconnect = std::chrono::steady_clock::now() + kReconnectInterval;
            }
            std::this_thread::sleep_for(kLinkDownSleepHid);
            continue;
        }

        BusFrame frame;
        const int got = link(kind).receive(&frame, kReceivePollMs);
        if (got >= 1) dispatch_frame(frame);
    }
}

void CommsManager::disconnect() {
    if (disconnecting_.exchange(true)) return;
    stop_receiving_ = true;

    // Every wait ends now; a wait that starts later sees disconnecting_.
    abort_waits(FailureReason::Disconnected);

    if (receiving_) stop_receive_thread();
    link(InterfaceKind::UsbHid).close();
    link(InterfaceKind::CanFd).close();

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

std::array<WaitSlot*, 6> CommsManager::wait_slots() {
    return {&read_slot_, &sequenced_slot_, &plain_ack_slot_, &prepare_, &erase_, &write_};
}

void CommsManager::abort_waits(FailureReason why) {
    for (WaitSlot* slot : wait_slots()) slot->abort(why);
}

std::uint32_t CommsManager::next_sequence() {
    for (;;) {
        const std::uint32_t value = sequence_.fetch_add(1) & 0xFFFFFFu;
        if (value != 0) return value;
    }
}

}  // namespace vk61
