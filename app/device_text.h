// How the window names a unit: its serial number as the devices table shows
// it, which is also the name of its backup folder.
#pragma once

#include <QString>

#include <cstdint>

// "0xC3010001": the device id, eight upper-case hexadecimal digits.
inline QString serialText(std::uint32_t device_id) {
    return QStringLiteral("0x") + QString::number(device_id, 16).rightJustified(8, QLatin1Char('0')).toUpper();
}
