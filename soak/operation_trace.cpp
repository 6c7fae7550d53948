#include "operation_trace.h"

#include <memory>

#include "trace/pcap_trace.h"

namespace soak {

void OperationTrace::record(const vk61::BusFrame& frame, vk61::FrameDirection direction,
                            std::chrono::system_clock::time_point at) {
    std::lock_guard lock(mutex_);
    records_.push_back({frame, direction, at});
}

void OperationTrace::begin_operation() {
    std::lock_guard lock(mutex_);
    records_.clear();
}

std::size_t OperationTrace::frames() const {
    std::lock_guard lock(mutex_);
    return records_.size();
}

std::optional<std::size_t> OperationTrace::write(const std::string& path, std::string* error) const {
    std::vector<Record> records;
    {
        // A copy, so the link's threads are not held while the file is written.
        std::lock_guard lock(mutex_);
        records = records_;
    }
    vk61::TraceOpened opened = vk61::PcapTrace::create(path);
    if (!opened.ok()) {
        *error = describe(opened);
        return std::nullopt;
    }
    const std::unique_ptr<vk61::PcapTrace> trace = std::move(opened.trace);
    for (const Record& r : records) trace->record(r.frame, r.direction, r.at);
    if (!trace->flush()) {
        *error = "cannot write " + path;
        return std::nullopt;
    }
    return records.size();
}

}  // namespace soak
