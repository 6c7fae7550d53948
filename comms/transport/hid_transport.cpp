#include "hid_transport.h"

#include <hidapi/hidapi.h>

#include <algorithm>
#include <array>
#include <cstring>

namespace vk61 {

HidTransport::HidTransport() { hid_init(); }

HidTransport::HidTransport(std::uint16_t vendor_id, std::uint16_t product_id)
    : vendor_id_(vendor_id), product_id_(product_id) {
    hid_init();
}

HidTransport::~HidTransport() {
    close_device();
    hid_exit();
}

bool HidTransport::open_device(std::uint16_t vendor_id, std::uint16_t product_id) {
    // Also frees a handle left behind by a failed write.
    close_device();

    hid_device* opened = nullptr;
    hid_device_info* list = hid_enumerate(vendor_id, product_id);
    for (hid_device_info* it = list; it != nullptr; it = it->next) {
        if (it->vendor_id != vendor_id || it->product_id != product_id || it->usage_page != kUsagePage) {
            continue;
        }
        // Only the first matching interface is tried: the bridge exposes one
        // vendor interface, and if that one cannot be opened nothing else of
        // the same ids is the bridge either.
        if (it->path != nullptr) opened = hid_open_path(it->path);
        break;
    }
    hid_free_enumeration(list);

    std::lock_guard lock(handle_mutex_);
    device_ = opened;
    open_ = opened != nullptr;
    return open_;
}

void HidTransport::close_device() {
    std::lock_guard lock(handle_mutex_);
    open_ = false;
    if (device_ != nullptr) {
        hid_close(device_);
        device_ = nullptr;
    }
}

int HidTransport::send_frame(const BusFrame& frame) {
    std::lock_guard lock(handle_mutex_);
    if (!open_ || device_ == nullptr) return -1;

    const std::size_t n = dlc_to_bytes(frame.dlc());
    std::array<unsigned char, kOutputReportSize> report{};
    report[0] = report_id_;
    std::memcpy(report.data() + 1, frame.bytes.data() + 1, 4);  // identifier
    report[5] = frame.dlc();
    std::memcpy(report.data() + 6, frame.data(), n);

    const int written = hid_write(device_, report.data(), report.size());
    // The handle itself is freed by the reading side (see the header).
    if (written < 0) open_ = false;
    return written;
}

int HidTransport::receive_frame(BusFrame* frame, int timeout_ms) {
    if (!open_ || device_ == nullptr || frame == nullptr) return -1;

    std::array<unsigned char, kInputBufferSize> report{};
    const int got = hid_read_timeout(device_, report.data(), report.size(), timeout_ms);
    if (got < 0) {
        close_device();
        return -1;
    }
    if (got == 0) return 0;
    if (got < 7) return -1;  // too short to hold the header; the link stays open

    std::fill(frame->bytes.begin() + 1, frame->bytes.end(), std::uint8_t{0});
    std::memcpy(frame->bytes.data(), report.data() + 1, 6);  // link, identifier, DLC
    const std::size_t arrived = static_cast<std::size_t>(got) - 7;
    const std::size_t n = std::min({dlc_to_bytes(frame->dlc()), arrived, BusFrame::kMaxData});
    std::memcpy(frame->data(), report.data() + 7, n);
    return got;
}

}  // namespace vk61
