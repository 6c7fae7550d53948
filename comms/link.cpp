// Transports, transmit path, receive thread and shutdown of the link.
#include "link.h"

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

Link::Link(Handlers handlers) : handlers_(std::move(handlers)) {}

void Link::record_frames(FrameRecorder* recorder) {
    if (recorder == nullptr) {
        recorded_hid_.reset();
        recorded_can_.reset();
        return;
    }
    recorded_hid_ = std::make_unique<RecordingTransport>(hid_, *recorder);
    recorded_can_ = std::make_unique<RecordingTransport>(can_, *recorder);
}

Transport& Link::transport(InterfaceKind kind) {
    if (kind == InterfaceKind::CanFd) return recorded_can_ ? static_cast<Transport&>(*recorded_can_) : can_;
    return recorded_hid_ ? static_cast<Transport&>(*recorded_hid_) : hid_;
}

const Transport& Link::transport(InterfaceKind kind) const {
    if (kind == InterfaceKind::CanFd) return recorded_can_ ? static_cast<const Transport&>(*recorded_can_) : can_;
    return recorded_hid_ ? static_cast<const Transport&>(*recorded_hid_) : hid_;
}

bool Link::is_connected() const { return transport(kind_.load()).is_open(); }

bool Link::transmit(InterfaceKind kind, const BusFrame& frame) {
    std::lock_guard lock(transmit_mutex_);
    Transport& l = transport(kind);
    return l.is_open() && l.send(frame);
}

bool Link::send_command(std::uint32_t identifier, std::uint8_t dlc, const std::uint8_t* payload, std::size_t len) {
    const InterfaceKind kind = kind_.load();
    return transmit(kind, make_frame(static_cast<std::uint8_t>(kind), identifier, dlc, payload, len));
}

OperationResult Link::connect(const std::function<void()>& opened, const std::function<bool()>& greet) {
    struct Candidate {
        InterfaceKind kind;
        const char* name;
    };
    const Candidate candidates[] = {{InterfaceKind::UsbHid, kUsbName}, {InterfaceKind::CanFd, kCanName}};

    FailureReason why = FailureReason::NoInterface;
    for (const Candidate& candidate : candidates) {
        if (disconnecting_) {
            why = FailureReason::Disconnected;
            break;
        }
        bool opened_link = false;
        if (candidate.kind == InterfaceKind::UsbHid) {
            debug_log("Attempting to connect to %s device 0x%04X:0x%04X\n", kUsbName, kUsbVendorId, kUsbProductId);
        } else {
            debug_log("%s unavailable, attempting %s interface: %s\n", kUsbName, kCanName, kCanInterfaceName);
        }
        opened_link = transport(candidate.kind).open();
        if (!opened_link) {
            debug_log("Failed to connect to %s\n", candidate.name);
            continue;
        }

        debug_log("%s connected, starting RX thread...\n", candidate.name);
        kind_ = candidate.kind;
        opened();
        start_receive_thread();
        debug_log("Sending WHOAMI...\n");
        if (greet()) return OperationResult::success();
        why = FailureReason::SendFailed;

        debug_log("Failed to send WHOAMI on %s\n", candidate.name);
        stop_receive_thread();
        transport(candidate.kind).close();
        kind_ = InterfaceKind::UsbHid;
    }

    debug_log("Failed to connect via USB HID or CAN FD\n");
    return OperationResult::failure(OperationStep::Connect, why);
}

void Link::start_receive_thread() {
    if (receiving_) return;
    stop_receiving_ = false;
    receiving_ = true;
    receive_thread_ = std::thread([this] { receive_loop(); });
}

void Link::stop_receive_thread() {
    stop_receiving_ = true;
    if (receive_thread_.joinable()) receive_thread_.join();
    receiving_ = false;
    stop_receiving_ = false;
}

void Link::receive_loop() {
    auto next_reconnect = std::chrono::steady_clock::now();
    bool link_was_up = true;
    while (!stop_receiving_) {
        const InterfaceKind kind = kind_.load();
        // A link that failed (a read or a write saw the cable go) ends every
        // wait at once: no answer can come over it any more.
        const bool link_up = is_connected();
        if (link_was_up && !link_up) handlers_.link_lost();
        link_was_up = link_up;
        if (kind != InterfaceKind::UsbHid && !transport(kind).is_open()) {
            std::this_thread::sleep_for(kLinkDownSleepCan);
            continue;
        }
        if (kind == InterfaceKind::UsbHid && !transport(kind).is_open()) {
            const auto now = std::chrono::steady_clock::now();
            if (now >= next_reconnect) {
                usb_reconnect_step();
                next_reconnect = std::chrono::steady_clock::now() + kReconnectInterval;
            }
            std::this_thread::sleep_for(kLinkDownSleepHid);
            continue;
        }

        BusFrame frame;
        if (transport(kind).receive(&frame, kReceivePollMs) == Received::Frame) handlers_.frame(frame);
    }
}

bool Link::usb_reconnect_step() {
    if (kind_.load() != InterfaceKind::UsbHid) return false;
    if (transport(InterfaceKind::UsbHid).is_open()) return true;

    debug_log("USB HID: attempting reconnect to 0x%04X:0x%04X...\n", kUsbVendorId, kUsbProductId);
    if (!transport(InterfaceKind::UsbHid).open()) return false;
    debug_log("USB HID: reconnected\n");
    handlers_.reconnected();
    return true;
}

bool Link::begin_disconnect() {
    if (disconnecting_.exchange(true)) return false;
    stop_receiving_ = true;
    return true;
}

void Link::finish_disconnect() {
    if (receiving_) stop_receive_thread();
    transport(InterfaceKind::UsbHid).close();
    transport(InterfaceKind::CanFd).close();
}

}  // namespace vk61
