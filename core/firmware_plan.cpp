#include "core/firmware_plan.h"

#include <QFileInfo>

#include "core/device_text.h"
#include "downloads/firmware_package.h"

namespace vk61 {

namespace {

// major.minor.patch, without the release-candidate byte.
std::uint32_t release_of(std::uint32_t firmware) { return firmware & 0xFFFFFF00u; }

}  // namespace

bool FirmwarePlan::needs_confirmation() const {
    if (oversized_erase) return true;
    for (const FirmwareUnitPlan& unit : units) {
        if (unit.downgrade || unit.other_type) return true;
    }
    return false;
}

QStringList FirmwarePlan::unit_lines() const {
    QStringList lines;
    for (const FirmwareUnitPlan& unit : units) {
        lines << QStringLiteral("UID %1  %2  %3 -> %4").arg(unit.uid).arg(unit.type, unit.current, receives);
    }
    return lines;
}

QStringList FirmwarePlan::concerns() const {
    QStringList lines;
    for (const FirmwareUnitPlan& unit : units) {
        if (unit.downgrade)
            lines << QStringLiteral("UID %1 (%2) would go back from %3 to an older version")
                         .arg(unit.uid)
                         .arg(unit.type, unit.current);
        if (unit.other_type)
            lines << QStringLiteral("UID %1 is a %2 and would receive an image for another type of unit")
                         .arg(unit.uid)
                         .arg(unit.type);
    }
    if (oversized_erase) {
        lines << QStringLiteral("The header asks every unit to erase %1 bytes, %2 bytes beyond the end of the image")
                     .arg(erase_bytes)
                     .arg(std::uint64_t{erase_bytes} - image_end);
    }
    return lines;
}

FirmwareImageIdentity firmware_identity(const QString& path, const FirmwarePackage* package) {
    FirmwareImageIdentity identity;
    identity.file_name = QFileInfo(path).fileName();
    if (package == nullptr) return identity;
    bool ok = false;
    const uint type = package->device_type.toUInt(&ok, 16);
    if (ok && type <= 0xFF) identity.unit_type = static_cast<std::uint8_t>(type);
    const FirmwareVersion& v = package->firmware_version;
    identity.version = (std::uint32_t{v.major} << 24) | (std::uint32_t{v.minor} << 16) | (std::uint32_t{v.patch} << 8);
    return identity;
}

FirmwarePlan plan_firmware_update(const FirmwareImage& image, const FirmwareImageIdentity& identity,
                                  const std::vector<DeviceInfo>& units) {
    FirmwarePlan plan;
    const FirmwareHeader& header = image.header;
    plan.erase_bytes = header.total_size();
    plan.image_end = std::uint64_t{header.image_offset()} + header.encrypted_size();

    // What the erase run and the fit check would refuse after the prepare
    // command, refused before it.
    if (image.file.size() < FirmwareHeader::kSize) {
        plan.refusal = QStringLiteral("the file is shorter than a firmware header");
    } else if (header.encrypted_size() == 0) {
        plan.refusal = QStringLiteral("the header announces no image");
    } else if (header.total_size() == 0 || header.total_size() > kMaxEraseRunBytes) {
        plan.refusal =
            QStringLiteral("the header asks for an erase of %1 bytes, which no unit can do").arg(header.total_size());
    } else if (!firmware_file_fits(header, static_cast<std::int64_t>(image.file.size()))) {
        plan.refusal = image.body_size() < header.encrypted_size()
                           ? QStringLiteral("the file holds %1 of the %2 image bytes its header announces")
                                 .arg(image.body_size())
                                 .arg(header.encrypted_size())
                           : QStringLiteral("the image does not lie inside the space the units erase for it");
    }
    plan.oversized_erase = std::uint64_t{header.total_size()} > plan.image_end + kEraseBeyondImageLimit;

    plan.receives = identity.file_name;
    if (identity.version || identity.unit_type) {
        QStringList known;
        if (identity.version) known << firmwareText(*identity.version);
        if (identity.unit_type) known << QStringLiteral("for ") + unitTypeName(*identity.unit_type);
        plan.receives += QStringLiteral(" (") + known.join(QLatin1Char(' ')) + QLatin1Char(')');
    } else {
        plan.receives += QStringLiteral(" (version not known)");
    }
    for (const DeviceInfo& unit : units) {
        FirmwareUnitPlan row;
        row.uid = unit.uid;
        const bool identified = !unit.is_placeholder();
        const std::uint8_t type_code = unit.type_code();
        row.type = identified ? unitTypeName(type_code) : QStringLiteral("not identified");
        row.current = firmwareText(unit.firmware);
        row.downgrade = identity.version && release_of(unit.firmware) > release_of(*identity.version);
        row.other_type = identity.unit_type && identified && type_code != *identity.unit_type;
        plan.units.push_back(row);
    }
    return plan;
}

}  // namespace vk61
