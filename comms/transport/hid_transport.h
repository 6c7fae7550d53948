// USB HID link to the bus bridge: one BusFrame per HID report.
//
// Threads: frames are written from any thread (serialised by the manager's
// transmit lock) and read by the one receive thread. The handle is opened,
// replaced and freed only on the reading side (connect before the receive
// thread starts, reconnect and read errors on the receive thread, disconnect
// after it was joined), so a read never runs on a freed handle. A failed write
// only marks the link closed; the reading side frees the handle.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

#include "bus_frame.h"
#include "transport/transport.h"

struct hid_device_;

namespace vk61 {

class HidTransport final : public Transport {
public:
    static constexpr std::uint16_t kUsagePage = 0xFF00;
    static constexpr std::uint8_t kReportId = 5;
    static constexpr int kOutputReportSize = 73;
    static constexpr int kInputBufferSize = 128;

    HidTransport();  // initialises the HID library
    // The same; open() opens vendor_id:product_id.
    HidTransport(std::uint16_t vendor_id, std::uint16_t product_id);
    ~HidTransport() override;  // closes the handle, shuts the HID library down
    HidTransport(const HidTransport&) = delete;
    HidTransport& operator=(const HidTransport&) = delete;

    // Opens the first interface of vid:pid on the vendor usage page. Only
    // that first match is tried.
    bool open_device(std::uint16_t vendor_id, std::uint16_t product_id);
    void close_device();
    bool is_open() const override { return open_.load(); }

    // Writes one 73-byte output report. Returns the byte count, or a negative
    // value on failure (which closes the link).
    int send_frame(const BusFrame& frame);

    // Reads one input report, waiting at most timeout_ms (-1 blocks, 0 polls).
    // Returns the report length (>= 7) with frame filled, 0 when nothing
    // arrived, -1 on error (a read error closes the link; a report shorter
    // than 7 bytes is discarded and the link stays open).
    int receive_frame(BusFrame* frame, int timeout_ms);

    // The link interface over the calls above.
    InterfaceKind kind() const override { return InterfaceKind::UsbHid; }
    bool open() override { return open_device(vendor_id_, product_id_); }
    void close() override { close_device(); }
    bool send(const BusFrame& frame) override { return send_frame(frame) > 0; }
    Received receive(BusFrame* frame, int timeout_ms) override {
        return received_from_count(receive_frame(frame, timeout_ms));
    }

private:
    // Guards device_ against writers while the reading side replaces or frees
    // it. The reading side itself reads device_ without the lock: it is the
    // only thread that changes it.
    std::mutex handle_mutex_;
    hid_device_* device_ = nullptr;
    std::atomic<bool> open_{false};
    const std::uint8_t report_id_ = kReportId;
    const std::uint16_t vendor_id_ = 0;
    const std::uint16_t product_id_ = 0;
};

}  // namespace vk61
