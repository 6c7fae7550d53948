// Parsers of the downloads manifest (a JSON object with "firmware_packages"
// and "database_files"). Pure computation: no file or network access.
#pragma once

#include "downloads/database_package.h"
#include "downloads/download_result.h"
#include "downloads/firmware_package.h"

#include <QByteArray>
#include <QDate>
#include <QList>
#include <QString>

namespace vk61 {

// Empties *entries_out, then fills it in manifest order. The first object
// entry with a bad version, a missing device_type/firmware_file or no
// well-formed sha256 fails the whole parse; entries appended before it stay
// in *entries_out. Fails with InvalidJson, BadManifest, ReservedFileName or
// SharedFileName.
DownloadResult parse_firmware_manifest(const QByteArray& bytes, QList<FirmwarePackage>* entries_out);

// Empties *entries_out, then fills it in manifest order. Entries without a
// db_type or without a "*.db" database_file are dropped silently; one of the
// others without a well-formed sha256 or without a valid
// cycle_effective_date (YYYY-MM-DD) fails the whole parse.
DownloadResult parse_database_manifest(const QByteArray& bytes, QList<DatabasePackage>* entries_out);

// The cycle_effective_date as a date; invalid when it is not one.
QDate cycle_date(const DatabasePackage& package);

// Whether bytes can be a manifest at all: within kMaxManifestBytes and a
// JSON object (ManifestTooLarge, InvalidJson). Anything else (a captive
// portal's page, say) is no answer.
DownloadResult is_manifest_document(const QByteArray& bytes);

// Whether bytes may be used (and kept) as the downloads manifest: within
// kMaxManifestBytes, a JSON object, every package list it carries parses
// whole, at least one package, and no two packages (nor a package and the
// manifest) share a file name in the cache, unless they share the digest too.
DownloadResult check_manifest(const QByteArray& bytes);

// "major.minor.patch" (surrounding blanks allowed), each part a base-10
// integer 0-255. The outputs are written only when all three parts pass; any
// null output fails the call.
bool parse_version_triplet(const QString& text, quint8* major, quint8* minor, quint8* patch);

}  // namespace vk61
