#include "raw_host.h"

#include <cstring>

namespace simtest {

std::vector<std::uint8_t> output_report(std::uint32_t id, std::uint8_t dlc, const std::vector<std::uint8_t>& data) {
    std::vector<std::uint8_t> r(73, 0);
    r[0] = 5;
    for (int i = 0; i < 4; ++i) r[1 + i] = static_cast<std::uint8_t>(id >> (8 * i));
    r[5] = dlc;
    std::memcpy(r.data() + 6, data.data(), std::min<std::size_t>(data.size(), 67));
    return r;
}

std::string bridge_path() {
    std::string path;
    hid_device_info* list = hid_enumerate(0x16D0, 0x14C7);
    for (auto* i = list; i != nullptr; i = i->next) {
        if (i->usage_page == 0xFF00 && i->path != nullptr) {
            path = i->path;
            break;
        }
    }
    hid_free_enumeration(list);
    return path;
}

bool RawHost::open() { return open_path(bridge_path()); }

bool RawHost::open_path(const std::string& path) {
    close();
    if (path.empty()) return false;
    dev_ = hid_open_path(path.c_str());
    return dev_ != nullptr;
}

void RawHost::close() {
    if (dev_ != nullptr) hid_close(dev_);
    dev_ = nullptr;
}

int RawHost::send(std::uint32_t id, std::uint8_t dlc, const std::vector<std::uint8_t>& data) {
    const auto r = output_report(id, dlc, data);
    return hid_write(dev_, r.data(), r.size());
}

std::optional<vk61::BusFrame> RawHost::read_frame(int timeout_ms) {
    std::uint8_t buf[128] = {};
    const int n = hid_read_timeout(dev_, buf, sizeof buf, timeout_ms);
    if (n < 7) return std::nullopt;
    vk61::BusFrame f;
    f.set_link(buf[1]);
    f.set_identifier(static_cast<std::uint32_t>(buf[2]) | (static_cast<std::uint32_t>(buf[3]) << 8) |
                     (static_cast<std::uint32_t>(buf[4]) << 16) | (static_cast<std::uint32_t>(buf[5]) << 24));
    f.set_dlc(buf[6]);
    std::memcpy(f.data(), buf + 7, std::min(n - 7, 64));
    return f;
}

std::vector<vk61::BusFrame> RawHost::drain() {
    std::vector<vk61::BusFrame> frames;
    while (auto f = read_frame(0)) frames.push_back(*f);
    return frames;
}

}  // namespace simtest
