// Choosing entries of a parsed manifest. Returned pointers refer into the
// caller's list and stay valid while that list is not modified.
#pragma once

#include "downloads/database_package.h"
#include "downloads/firmware_package.h"

#include <QList>
#include <QString>

namespace vk61 {

// True when the unit's firmware word (major.minor.patch in bits 31-8; the
// release-candidate byte is ignored) is older than the package's version.
bool is_firmware_older(quint32 firmware_word, const FirmwarePackage& package);

// The package for a unit's device id (type code bits 31-24, hardware revision
// bits 23-16): the first package of that type whose revision list is empty or
// names the revision, else the first package of that type, else null.
const FirmwarePackage* find_firmware_for_device(const QList<FirmwarePackage>& packages, quint32 device_id);

// The package of db_type (trimmed, lower-cased) with the latest
// cycle_effective_date, read as a date (one that is no date comes first); on
// equal dates the earliest in the list. Null if none.
const DatabasePackage* find_latest_database(const QList<DatabasePackage>& packages, const QString& db_type);

// The first package whose firmware_file has the same last path component as
// path (case-sensitive). Null if none, or if path has no usable file name.
const FirmwarePackage* find_firmware_by_file_name(const QList<FirmwarePackage>& packages, const QString& path);

}  // namespace vk61
