// How the window and the command-line tool name a unit: its serial number as
// the devices table shows it, which is also the name of its backup folder,
// its type and its firmware version.
#pragma once

#include <QString>

#include <cstdint>

#include "device_info.h"
#include "protocol.h"

// "0xC3010001": the device id, eight upper-case hexadecimal digits.
inline QString serialText(std::uint32_t device_id) {
    return QStringLiteral("0x") + QString::number(device_id, 16).rightJustified(8, QLatin1Char('0')).toUpper();
}

// The unit's type by its type code, for a unit no manifest entry names.
inline QString unitTypeName(std::uint8_t code) {
    switch (code) {
    case vk61::protocol::kTypeHalvard: return QStringLiteral("Halvard");
    case vk61::protocol::kTypeTessaly: return QStringLiteral("Tessaly");
    case vk61::protocol::kTypeMorrow: return QStringLiteral("Morrow");
    default: return QStringLiteral("Unknown (0x%1)").arg(code, 2, 16, QLatin1Char('0'));
    }
}

// "1.4.2": major, minor and patch of a firmware word (the release-candidate
// byte is not shown).
inline QString firmwareText(std::uint32_t firmware) {
    return QStringLiteral("%1.%2.%3")
        .arg(vk61::protocol::firmware_major(firmware))
        .arg(vk61::protocol::firmware_minor(firmware))
        .arg(vk61::protocol::firmware_patch(firmware));
}

// Whether the devices table shows the unit as connected: a unit the occupancy
// report covers counts while it is alive, any other while the link is up.
inline bool countsAsConnected(const vk61::DeviceInfo& unit, bool link_connected) {
    if (unit.occupied) return unit.alive;
    return unit.alive || link_connected;
}
