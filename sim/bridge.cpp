#include "bridge.h"

#include "report_codec.h"

namespace sim {

Bridge::Bridge(Installation& bus) : bus_(bus) {
    HostSide side;
    side.frame = [this](const vk61::BusFrame& frame) { deliver(input_report_from_frame(frame)); };
    side.raw_report = [this](const std::vector<std::uint8_t>& report) { deliver(report); };
    side.pull_cable = [] { vhid::pull_cable(); };
    side.plug_cable = [] { vhid::plug_cable(); };
    token_ = bus_.attach_host(std::move(side));
}

Bridge::~Bridge() { bus_.detach_host(token_); }

bool Bridge::host_open(vhid::ReportSink to_host) {
    std::lock_guard lock(mutex_);
    if (sink_) return false;
    sink_ = std::move(to_host);
    return static_cast<bool>(sink_);
}

void Bridge::host_write(const std::uint8_t* data, std::size_t len) {
    // No lock of ours is held here: the bus answers through deliver().
    if (const auto frame = frame_from_output_report(data, len)) bus_.receive_from_host(*frame);
}

void Bridge::host_close() {
    std::lock_guard lock(mutex_);
    sink_ = nullptr;
}

bool Bridge::host_connected() const {
    std::lock_guard lock(mutex_);
    return static_cast<bool>(sink_);
}

// The sink is copied and called outside mutex_: virtual_hidapi may call
// host_close() from the same thread (cable pull) while a report is in flight.
void Bridge::deliver(const std::vector<std::uint8_t>& report) {
    vhid::ReportSink sink;
    {
        std::lock_guard lock(mutex_);
        sink = sink_;
    }
    if (sink && !report.empty()) sink(report.data(), report.size());
}

}  // namespace sim
