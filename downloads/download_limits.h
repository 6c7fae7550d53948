// How much the downloads code accepts from a server, and what it must be able
// to prove about it. Everything fetched is untrusted until these hold.
#pragma once

#include <QString>
#include <QtGlobal>

namespace vk61 {

// A manifest lists a handful of packages; anything larger is not one, and is
// refused before it is held in memory any further.
inline constexpr qint64 kMaxManifestBytes = qint64(1) << 20;

// The largest airport database the units take: 832 blocks of 64 KiB.
inline constexpr qint64 kMaxAirportDatabaseBytes = qint64(832) << 16;  // 54,525,952

// The largest firmware file a unit's erase run can hold: at most 0xFFFF
// blocks of 64 KiB from its write address, header and image together.
inline constexpr qint64 kMaxFirmwarePackageBytes = qint64(0xFFFF) << 16;  // 4,294,901,760

// A SHA-256 digest as the manifest must give it: exactly 64 hexadecimal
// digits (either case), blanks around it allowed.
bool is_well_formed_sha256(const QString& text);

// Only these are ever requested, also as the target of a redirect: the
// digest proves the bytes, but no other scheme is a download.
bool is_followed_scheme(const QString& scheme);

}  // namespace vk61
