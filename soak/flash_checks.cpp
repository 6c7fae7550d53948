#include "flash_checks.h"

#include <algorithm>
#include <cstdio>

namespace soak {

namespace {
constexpr std::uint32_t kHeaderSize = 64;

std::string at(std::uint8_t uid, std::uint32_t address, const char* what) {
    char text[96];
    std::snprintf(text, sizeof text, "UID %u: %s at 0x%08X", unsigned{uid}, what, address);
    return text;
}
}  // namespace

std::vector<vk61::FirmwareTarget> firmware_targets_from_log(const std::vector<std::string>& lines) {
    std::vector<vk61::FirmwareTarget> targets;
    for (const std::string& line : lines) {
        unsigned uid = 0;
        unsigned address = 0;
        char end = 0;
        if (std::sscanf(line.c_str(), "  UID %u -> 0x%8X%c", &uid, &address, &end) == 3 && end == '\n') {
            targets.push_back({static_cast<std::uint8_t>(uid), address});
        }
    }
    return targets;
}

bool firmware_in_flash(const sim::Installation& bus, const std::vector<vk61::FirmwareTarget>& targets,
                       const Transfer& transfer, std::string* problem) {
    if (targets.empty()) {
        *problem = "no targets in the log";
        return false;
    }
    for (const vk61::FirmwareTarget& t : targets) {
        if (bus.flash_bytes(t.uid, t.write_address, kHeaderSize) != transfer.header) {
            *problem = at(t.uid, t.write_address, "header differs");
            return false;
        }
        const std::uint32_t image = t.write_address + transfer.image_offset;
        if (bus.flash_bytes(t.uid, image, transfer.body.size()) != transfer.body) {
            *problem = at(t.uid, image, "image differs");
            return false;
        }
        const std::size_t gap = transfer.image_offset - kHeaderSize;
        if (bus.flash_bytes(t.uid, t.write_address + kHeaderSize, gap) != std::vector<std::uint8_t>(gap, 0xFF)) {
            *problem = at(t.uid, t.write_address + kHeaderSize, "gap behind the header not erased");
            return false;
        }
    }
    return true;
}

bool header_absent(const sim::Installation& bus, const std::vector<vk61::FirmwareTarget>& targets,
                   const Transfer& transfer, std::string* problem) {
    for (const vk61::FirmwareTarget& t : targets) {
        if (bus.flash_bytes(t.uid, t.write_address, kHeaderSize) == transfer.header) {
            *problem = at(t.uid, t.write_address, "header written although the image was not confirmed");
            return false;
        }
    }
    return true;
}

bool database_in_flash(const sim::Installation& bus, const std::vector<std::uint8_t>& uids, const Transfer& transfer,
                       std::string* problem) {
    for (std::uint8_t uid : uids) {
        if (bus.flash_bytes(uid, 0, transfer.body.size()) != transfer.body) {
            *problem = at(uid, 0, "database differs");
            return false;
        }
        const auto status = bus.unit_status(uid);
        if (!status || !status->db_open) {
            *problem = at(uid, 0, "database left closed");
            return false;
        }
    }
    return true;
}

}  // namespace soak
