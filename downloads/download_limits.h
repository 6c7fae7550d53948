// How much the downloads code accepts from a server, and what it must be able
// to prove about it. Everything fetched is untrusted until these hold.
#pragma once

#include "comms/flash/transfer_limits.h"

#include <QString>
#include <QtGlobal>

namespace vk61 {

// A manifest lists a handful of packages; anything larger is not one, and is
// refused before it is held in memory any further.
inline constexpr qint64 kMaxManifestBytes = qint64(1) << 20;

// A package no unit could take is refused before it is stored; the units'
// limits (kMaxAirportDatabaseBytes among them) come from the bus code's own
// statement of them, so that the two cannot differ.
inline constexpr qint64 kMaxFirmwarePackageBytes = kMaxFirmwareFileBytes;

// A SHA-256 digest as the manifest must give it: exactly 64 hexadecimal
// digits (either case), blanks around it allowed.
bool is_well_formed_sha256(const QString& text);

// Only these are ever requested, also as the target of a redirect: the
// digest proves the bytes, but no other scheme is a download.
bool is_followed_scheme(const QString& scheme);

}  // namespace vk61
