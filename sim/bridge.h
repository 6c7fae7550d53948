// The USB bridge of the simulated installation, reached in-process through
// virtual_hidapi (vhid::attach_bridge(&bridge)).
//
// One host at a time: a second open while one is open is refused. Frames for
// the host while none is open are lost, as on the real bus. A PullCable fault
// pulls the virtual_hidapi cable (vhid::pull_cable); a replug after the
// fault's value is vhid::plug_cable.
//
// The Installation must outlive the Bridge.
#pragma once

#include "installation.h"
#include "virtual_hidapi_control.h"

#include <cstddef>
#include <cstdint>
#include <mutex>

namespace sim {

class Bridge : public vhid::InProcessBridge {
public:
    explicit Bridge(Installation& bus);
    ~Bridge() override;  // detaches from the installation; detach it from vhid first
    Bridge(const Bridge&) = delete;
    Bridge& operator=(const Bridge&) = delete;

    bool host_open(vhid::ReportSink to_host) override;
    // Turns the output report into a frame for the bus; the bus may answer
    // synchronously, through the sink, before this returns.
    void host_write(const std::uint8_t* data, std::size_t len) override;
    void host_close() override;

    bool host_connected() const;

private:
    void deliver(const std::vector<std::uint8_t>& report);

    Installation& bus_;
    std::uint64_t token_ = 0;
    mutable std::mutex mutex_;
    vhid::ReportSink sink_;  // guarded by mutex_; empty while no host is open
};

}  // namespace sim
