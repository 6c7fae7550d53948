#include "bridge_pacing.h"

#include <algorithm>

namespace sim {

BridgeCosts BridgeCosts::real_bridge() {
    using std::chrono::milliseconds;
    BridgeCosts c;
    c.host_report = milliseconds(2);
    c.device_report = milliseconds(1);
    c.erase_block = milliseconds(150);
    return c;
}

void BridgePacing::set_costs(const BridgeCosts& costs) {
    const auto non_negative = [](std::chrono::microseconds v) { return std::max(v, std::chrono::microseconds(0)); };
    std::lock_guard lock(mutex_);
    costs_.host_report = non_negative(costs.host_report);
    costs_.device_report = non_negative(costs.device_report);
    costs_.erase_block = non_negative(costs.erase_block);
    free_.store(costs_.host_report.count() == 0 && costs_.device_report.count() == 0 && costs_.erase_block.count() == 0,
                std::memory_order_relaxed);
}

BridgeCosts BridgePacing::costs() const {
    std::lock_guard lock(mutex_);
    return costs_;
}

BridgePacing::Clock::time_point BridgePacing::host_report(Clock::time_point sent) {
    std::lock_guard lock(mutex_);
    if (costs_.host_report.count() == 0) return sent;
    host_free_ = std::max(sent, host_free_) + costs_.host_report;
    return host_free_;
}

BridgePacing::Clock::time_point BridgePacing::device_report(Clock::time_point ready, std::size_t length) {
    std::lock_guard lock(mutex_);
    if (costs_.device_report.count() == 0) return ready;
    const auto packets = static_cast<long>(std::max<std::size_t>(1, (length + kPacketSize - 1) / kPacketSize));
    device_free_ = std::max(ready, device_free_) + costs_.device_report * packets;
    return device_free_;
}

BridgePacing::Clock::time_point BridgePacing::erase_block(std::uint8_t uid, Clock::time_point asked) {
    std::lock_guard lock(mutex_);
    if (costs_.erase_block.count() == 0) return asked;
    auto& free = flash_free_[uid];
    free = std::max(asked, free) + costs_.erase_block;
    return free;
}

}  // namespace sim
