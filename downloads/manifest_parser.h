// Parsers of the downloads manifest (a JSON object with "firmware_packages"
// and "database_files"). Pure computation: no file or network access.
#pragma once

#include "downloads/database_package.h"
#include "downloads/firmware_package.h"

#include <QByteArray>
#include <QList>
#include <QString>

namespace vk61 {

// Empties *entries_out, then fills it in manifest order. The first object
// entry with a bad version or a missing device_type/firmware_file fails the
// whole parse; entries appended before it stay in *entries_out.
bool parse_firmware_manifest(const QByteArray& bytes, QList<FirmwarePackage>* entries_out,
                             QString* error = nullptr);

// Empties *entries_out, then fills it in manifest order. Entries without a
// db_type or without a "*.db" database_file are dropped silently.
bool parse_database_manifest(const QByteArray& bytes, QList<DatabasePackage>* entries_out,
                             QString* error = nullptr);

// "major.minor.patch" (surrounding blanks allowed), each part a base-10
// integer 0-255. The outputs are written only when all three parts pass; any
// null output fails the call.
bool parse_version_triplet(const QString& text, quint8* major, quint8* minor, quint8* patch);

}  // namespace vk61
