// Link: the two transports to the bus, the transmit path and the receive
// thread.
//
// Threads: connect() and disconnect() run on the thread that owns the
// manager, never on the receive thread; transmit() and send_command() on any
// thread. The receive thread is the only reader of the link: it polls with a
// 10 ms time-out, hands every frame to Handlers::frame, calls
// Handlers::link_lost when the link it reads fails, and while the USB link is
// down reopens it every 500 ms (Handlers::reconnected once it is back).
// Locks: transmit_mutex_ serialises every write to the link and is always
// innermost: a caller may hold any other lock while it transmits, and nothing
// is locked inside it. kind_, receiving_, stop_receiving_ and disconnecting_
// are atomics read without locks. The recording wrappers are set before
// connect() and read-only afterwards.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "bus_frame.h"
#include "operation_result.h"
#include "transport/can_fd_transport.h"
#include "transport/hid_transport.h"
#include "transport/interface_kind.h"
#include "transport/recording_transport.h"

namespace vk61 {

class Link {
public:
    static constexpr std::uint16_t kUsbVendorId = 0x16D0;
    static constexpr std::uint16_t kUsbProductId = 0x14C7;
    static constexpr const char* kCanInterfaceName = "can0";

    // What the receive thread calls; each must return without waiting on a
    // caller of the engine.
    struct Handlers {
        std::function<void(const BusFrame&)> frame;  // every frame read
        std::function<void()> link_lost;             // the link was up and has failed
        std::function<void()> reconnected;           // the USB link was reopened
    };

    explicit Link(Handlers handlers);
    Link(const Link&) = delete;
    Link& operator=(const Link&) = delete;

    // Every frame sent or received from now on also goes to recorder (null:
    // none), which must outlive the link. Called before connect().
    void record_frames(FrameRecorder* recorder);
    // Opens USB HID, else CAN FD. For the link that opened, opened() runs,
    // the receive thread starts and greet() sends the first request; when
    // greet() fails the thread stops, the link closes and the next is tried.
    // Fails at the Connect step: NoInterface when neither opened, SendFailed
    // when greet() failed on each that did, Disconnected when disconnect()
    // began meanwhile.
    OperationResult connect(const std::function<void()>& opened, const std::function<bool()>& greet);
    InterfaceKind kind() const { return kind_.load(); }
    bool is_connected() const;
    // True from the start of disconnect() on.
    bool disconnecting() const { return disconnecting_.load(); }
    // Sends one frame on the link of the given kind (under the transmit lock).
    bool transmit(InterfaceKind kind, const BusFrame& frame);
    // Sends one frame built for the current link.
    bool send_command(std::uint32_t identifier, std::uint8_t dlc, const std::uint8_t* payload, std::size_t len);

    // disconnect() in two halves, so that the waits can be ended between
    // them: begin_disconnect() marks the link as going (false when it already
    // was), finish_disconnect() stops and joins the receive thread and closes
    // both transports.
    bool begin_disconnect();
    void finish_disconnect();

private:
    void start_receive_thread();
    void stop_receive_thread();
    void receive_loop();
    // Receive thread only, while the HID link is down (at most every 500 ms).
    // Blocks for one open attempt of the USB device.
    bool usb_reconnect_step();
    // The transport of a kind: the transport itself, or its recording wrapper.
    Transport& transport(InterfaceKind kind);
    const Transport& transport(InterfaceKind kind) const;

    Handlers handlers_;
    HidTransport hid_{kUsbVendorId, kUsbProductId};
    CanFdTransport can_{kCanInterfaceName};
    std::unique_ptr<RecordingTransport> recorded_hid_;
    std::unique_ptr<RecordingTransport> recorded_can_;
    std::atomic<InterfaceKind> kind_{InterfaceKind::UsbHid};
    std::mutex transmit_mutex_;

    std::thread receive_thread_;
    std::atomic<bool> receiving_{false};
    std::atomic<bool> stop_receiving_{false};
    std::atomic<bool> disconnecting_{false};
};

}  // namespace vk61
