#include "report_codec.h"

#include <algorithm>
#include <cstring>

namespace sim {

std::optional<vk61::BusFrame> frame_from_output_report(const std::uint8_t* report, std::size_t len) {
    if (report == nullptr || len < 6 || report[0] != kOutputReportId) return std::nullopt;
    vk61::BusFrame frame;
    frame.set_identifier(vk61::get_u32(report + 1));
    frame.set_dlc(report[5]);
    const std::size_t n = std::min(frame.payload_size(), len - 6);
    std::memcpy(frame.data(), report + 6, n);
    return frame;
}

std::size_t input_report_size(const vk61::BusFrame& frame) { return 7 + frame.payload_size(); }

std::vector<std::uint8_t> input_report_from_frame(const vk61::BusFrame& frame) {
    std::vector<std::uint8_t> report(input_report_size(frame));
    report[0] = kInputReportId;
    report[1] = frame.link();
    vk61::put_u32(report.data() + 2, frame.identifier());
    report[6] = frame.dlc();
    std::memcpy(report.data() + 7, frame.data(), frame.payload_size());
    return report;
}

}  // namespace sim
