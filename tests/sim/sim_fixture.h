// An installation with the default units behind the in-process bridge, and a
// raw host on it. With latency 0 every reply is queued before hid_write
// returns, so drain() sees exactly what a command caused.
#pragma once

#include "raw_host.h"

#include "bridge.h"
#include "default_installation.h"
#include "installation.h"
#include "virtual_hidapi_control.h"

#include <gtest/gtest.h>

#include <vector>

namespace simtest {

class SimFixture : public ::testing::Test {
protected:
    void SetUp() override {
        sim::add_default_units(bus);
        vhid::attach_bridge(&bridge);
        ASSERT_TRUE(host.open());
    }
    void TearDown() override {
        host.close();
        vhid::attach_bridge(nullptr);
    }
    // Sends one frame and returns everything it caused.
    std::vector<vk61::BusFrame> exchange(std::uint32_t id, std::uint8_t dlc, const std::vector<std::uint8_t>& data) {
        EXPECT_EQ(host.send(id, dlc, data), 73);
        return host.drain();
    }

    sim::Installation bus;
    sim::Bridge bridge{bus};
    RawHost host;
};

inline std::vector<std::uint8_t> payload(const vk61::BusFrame& f) { return {f.data(), f.data() + f.payload_size()}; }

inline std::vector<std::uint8_t> u32(std::uint32_t v) {
    return {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v >> 16),
            static_cast<std::uint8_t>(v >> 24)};
}

inline std::vector<std::uint8_t> cat(std::initializer_list<std::vector<std::uint8_t>> parts) {
    std::vector<std::uint8_t> out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

}  // namespace simtest
