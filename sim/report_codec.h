// What the USB bridge does with reports: a host output report becomes one bus
// frame, a bus frame becomes one input report.
#pragma once

#include "bus_frame.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace sim {

constexpr std::uint8_t kOutputReportId = 5;
constexpr std::uint8_t kInputReportId = 0x01;
constexpr std::size_t kOutputReportSize = 73;

// Output report: report id 5, identifier (4 bytes LE), DLC code, data, zero
// fill. The frame gets the DLC's byte count of data (as far as the report
// holds it), the rest zero. nullopt for another report id or fewer than 6 bytes.
std::optional<vk61::BusFrame> frame_from_output_report(const std::uint8_t* report, std::size_t len);

// Input report: report id 0x01, link byte, identifier (4 bytes LE), DLC code,
// then exactly the DLC's byte count of data bytes (7 to 71 bytes in all).
std::vector<std::uint8_t> input_report_from_frame(const vk61::BusFrame& frame);
// Its length, without building it.
std::size_t input_report_size(const vk61::BusFrame& frame);

}  // namespace sim
