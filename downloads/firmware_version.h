// A firmware version triplet as the downloads manifest carries it.
#pragma once

#include <QtGlobal>

namespace vk61 {

// major.minor.patch, each 0-255. A unit's firmware word carries the same three
// bytes (bits 31-24, 23-16, 15-8) plus a release-candidate byte that no
// comparison looks at.
struct FirmwareVersion {
    quint8 major = 0;
    quint8 minor = 0;
    quint8 patch = 0;

    friend bool operator==(const FirmwareVersion&, const FirmwareVersion&) = default;
};

}  // namespace vk61
