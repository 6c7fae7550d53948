// The host end of the virtual-bridge wire: one TCP connection to the bridge,
// as held by one open hid_device.
//
// One thread reads while others write (writers are serialised here). The
// connection closing is the cable being pulled: from then on every read and
// write fails.
#pragma once

#include "wire_address.h"

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

namespace vhid {

class WireClient {
public:
    WireClient() = default;
    ~WireClient();
    WireClient(const WireClient&) = delete;
    WireClient& operator=(const WireClient&) = delete;

    // Connects, waiting at most timeout for the bridge to accept.
    bool connect(const WireAddress& address, std::chrono::milliseconds timeout);

    // Sends one packet. Returns len, or -1 once the connection is gone. Blocks
    // at most about 1 s if the bridge stops reading.
    int write_packet(const std::uint8_t* data, std::size_t len);

    // One input report into buf (truncated to len). Waits up to timeout_ms for
    // it (-1: until a report arrives or the connection closes; 0: poll only).
    // Returns the bytes copied, 0 on time-out, -1 once the connection is gone.
    int read_report(std::uint8_t* buf, std::size_t len, int timeout_ms);

    // The cable was pulled on this side: wakes a blocked reader, fails the rest.
    void shutdown();

private:
    bool peer_gone();  // polls without waiting for the peer's close
    int fail();

    int fd_ = -1;
    std::atomic<bool> broken_{false};
    std::vector<std::uint8_t> rx_;  // reader thread only: bytes of partial packets
    std::mutex write_mutex_;        // serialises writers
};

}  // namespace vhid
