// What a firmware update will do, worked out before anything is sent, for
// both front ends: each unit with its type, its current version and what it
// will receive, and what deserves a second look (a downgrade, an image for
// another type of unit, an erase far beyond the image). An image that the
// erase run or the fit check would refuse is refused here, before the
// prepare command goes out.
#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>
#include <vector>

#include "device_info.h"
#include "flash/firmware_file.h"

namespace vk61 {

// What is known of the image beyond its header: the manifest entry that
// names the file, when there is one.
struct FirmwareImageIdentity {
    QString file_name;
    std::optional<std::uint8_t> unit_type;  // the type code the image is for
    std::optional<std::uint32_t> version;   // as a firmware word: major, minor, patch from the top byte
};

// An erase this far beyond the end of the image is named: it costs time and
// wears the flash for nothing, and most likely comes from a damaged header.
inline constexpr std::uint64_t kEraseBeyondImageLimit = 1u << 20;

struct FirmwareUnitPlan {
    std::uint8_t uid = 0;
    QString type;     // "Halvard"
    QString current;  // "1.4.2"
    bool downgrade = false;
    bool other_type = false;
};

struct FirmwarePlan {
    QString refusal;   // not empty: the image cannot be sent at all, and why
    QString receives;  // "efis-1.5.0.bin (1.5.0 for Halvard)"
    std::vector<FirmwareUnitPlan> units;
    bool oversized_erase = false;
    std::uint32_t erase_bytes = 0;  // total_size
    std::uint64_t image_end = 0;    // image offset + encrypted_size

    bool refused() const { return !refusal.isEmpty(); }
    // A downgrade, another unit type or an oversized erase: ask first.
    bool needs_confirmation() const;
    // One line per unit: "UID 1  Halvard  1.4.2 -> efis-1.5.0.bin (1.5.0 for Halvard)".
    QStringList unit_lines() const;
    // One sentence per concern, empty when there is none.
    QStringList concerns() const;
};

struct FirmwarePackage;
// The identity of the file at path from the manifest entry that names it
// (null: none does).
FirmwareImageIdentity firmware_identity(const QString& path, const FirmwarePackage* package);

FirmwarePlan plan_firmware_update(const FirmwareImage& image, const FirmwareImageIdentity& identity,
                                  const std::vector<DeviceInfo>& units);

}  // namespace vk61
