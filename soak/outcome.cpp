#include "outcome.h"

#include <array>
#include <cctype>
#include <string_view>

namespace soak {

namespace {

bool starts_with(std::string_view s, std::string_view prefix) { return s.substr(0, prefix.size()) == prefix; }
bool contains(std::string_view s, std::string_view part) { return s.find(part) != std::string_view::npos; }

// The lines with which the firmware worker ends, success included.
bool ends_firmware_update(std::string_view line) {
    static constexpr std::array<std::string_view, 5> kExact = {
        "prepare_fw_update: failed\n",
        "erase_fw_update_blocks: failed\n",
        "write_fw_image: failed\n",
        "firmware update: encrypted_size is zero\n",
        "firmware update: prepare, erase, image, and header write complete\n",
    };
    for (std::string_view exact : kExact) {
        if (line == exact) return true;
    }
    return starts_with(line, "firmware update: failed to ") ||
           starts_with(line, "firmware update: image does not fit the erased space");
}

// The UID after `marker` in line, or 0.
unsigned uid_after(std::string_view line, std::string_view marker) {
    const std::size_t at = line.find(marker);
    if (at == std::string_view::npos) return 0;
    unsigned uid = 0;
    for (std::size_t i = at + marker.size(); i < line.size() && std::isdigit(static_cast<unsigned char>(line[i]));
         ++i) {
        uid = uid * 10 + static_cast<unsigned>(line[i] - '0');
    }
    return uid;
}

// The lines with which an upload to every unit at once ends a unit, or all.
bool ends_together_unit(std::string_view line) {
    return starts_with(line, "airport_upload: ") &&
           (contains(line, " drops out (") || contains(line, "stopped for every unit") ||
            contains(line, "complete on UID"));
}

// The lines with which upload_airport_db ends a unit; success is "complete on UID".
bool ends_airport_unit(std::string_view line) {
    if (ends_together_unit(line)) return true;
    if (!starts_with(line, "upload_airport_db: ")) return false;
    static constexpr std::array<std::string_view, 14> kEndings = {
        "not connected",
        "invalid file path",
        "failed to open",
        "failed to seek",
        "empty or invalid",
        "file too large",
        "failed to read file",
        "close DB command failed",
        "close DB not acknowledged",
        "erase failed on UID",
        "write failed on UID",
        "open DB command failed",
        "open DB not acknowledged",
        "complete on UID",
    };
    for (std::string_view ending : kEndings) {
        if (contains(line, ending)) return true;
    }
    return false;
}

bool is_cause(std::string_view line) {
    static constexpr std::array<std::string_view, 6> kSources = {
        "fw_erase: ", "fw_write: ", "extflash_raw: ", "prepare_fw_update: ", "legacy_ack: ", "sequenced_cmd: ",
    };
    bool ours = false;
    for (std::string_view source : kSources) ours = ours || starts_with(line, source);
    if (!ours || line == "prepare_fw_update: failed\n") return false;
    return contains(line, "NACK") || contains(line, "mismatch") || contains(line, "unexpected") ||
           contains(line, "failed") || contains(line, "invalid status") || contains(line, "reported failure");
}

}  // namespace

std::string failure_key(const vk61::OperationResult& result) {
    if (result.ok() || result.step == vk61::OperationStep::None) return {};
    return std::string(vk61::step_text(result.step)) + ": " + vk61::reason_text(result.reason);
}

bool header_step_reached(const vk61::OperationResult& result) {
    return result.step == vk61::OperationStep::SetHeaderAddress || result.step == vk61::OperationStep::WriteHeader;
}

std::string normalise_line(const std::string& line) {
    std::string out;
    std::size_t i = 0;
    while (i < line.size()) {
        const char c = line[i];
        if (c == '\n') break;
        if (!std::isdigit(static_cast<unsigned char>(c))) {
            out += c;
            ++i;
            continue;
        }
        std::size_t end = i + 1;
        const bool hex = c == '0' && end < line.size() && line[end] == 'x';
        if (hex) ++end;
        while (end < line.size() && std::isxdigit(static_cast<unsigned char>(line[end])) &&
               (hex || std::isdigit(static_cast<unsigned char>(line[end])))) {
            ++end;
        }
        const std::string_view before(out);
        if (before.ends_with("complete=") || before.ends_with("failed=")) {
            out.append(line, i, end - i);
        } else {
            out += hex ? "0x#" : "#";
        }
        i = end;
    }
    return out;
}

Outcome classify_outcome(TransferKind kind, bool success, const std::vector<std::string>& lines) {
    Outcome outcome;
    outcome.success = success;
    for (const std::string& line : lines) {
        const bool terminal =
            kind == TransferKind::FirmwareUpdate ? ends_firmware_update(line) : ends_airport_unit(line);
        // The airport worker logs one ending per unit; the last one is the run's.
        if (terminal) outcome.terminal_line = normalise_line(line);
        if (outcome.cause_line.empty() && is_cause(line)) outcome.cause_line = normalise_line(line);
        if (kind != TransferKind::AirportUpload || !terminal) continue;
        if (const unsigned uid = uid_after(line, "complete on UID "); uid != 0) outcome.completed.push_back(uid);
        if (contains(line, " drops out (")) outcome.dropped.push_back(uid_after(line, "airport_upload: UID "));
        if (contains(line, "stopped for every unit")) outcome.stopped_all = true;
    }
    return outcome;
}

}  // namespace soak
