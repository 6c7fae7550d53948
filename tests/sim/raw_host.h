// A host that talks to the simulated bridge through the raw hidapi calls,
// building its 73-byte output reports and reading input reports itself.
#pragma once

#include "bus_frame.h"

#include <hidapi/hidapi.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace simtest {

// Output report: id 5, identifier LE, DLC code, data, zero fill to 73 bytes.
std::vector<std::uint8_t> output_report(std::uint32_t id, std::uint8_t dlc, const std::vector<std::uint8_t>& data);

// Path of the first interface 0x16D0:0x14C7 on usage page 0xFF00, or "".
std::string bridge_path();

class RawHost {
public:
    RawHost() = default;
    ~RawHost() { close(); }
    RawHost(const RawHost&) = delete;
    RawHost& operator=(const RawHost&) = delete;

    bool open();  // the bridge interface
    bool open_path(const std::string& path);
    void close();
    hid_device* device() const { return dev_; }

    int send(std::uint32_t id, std::uint8_t dlc, const std::vector<std::uint8_t>& data);
    // One input report, decoded (report id, link, identifier, DLC, data);
    // nullopt on time-out or error.
    std::optional<vk61::BusFrame> read_frame(int timeout_ms = 2000);
    // Everything the bridge has queued right now (no waiting).
    std::vector<vk61::BusFrame> drain();

private:
    hid_device* dev_ = nullptr;
};

}  // namespace simtest
