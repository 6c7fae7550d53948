// One firmware entry of the downloads manifest.
#pragma once

#include "downloads/firmware_version.h"

#include <QString>
#include <QStringList>

namespace vk61 {

// Value type, copied freely; lists of it keep manifest order.
struct FirmwarePackage {
    QString device_type;             // two hex digits, trimmed and upper-cased at parse
    QString display_name;
    QStringList hardware_revisions;  // decimal texts; empty = every revision
    FirmwareVersion firmware_version;
    QString firmware_file;           // only its last path component is used
    QString download_url;            // empty = look only in local_firmware_dir()
    QString sha256;                  // hex text; empty = the file is not verified
    QString minimum_bootloader_version;

    // Turns the package into a file on disk: a cached copy that passes its
    // digest, else a fresh download into the cache (verified), else - only
    // for a package without download_url - the file in local_firmware_dir().
    // Writes *local_path_out only on success.
    // Blocks (nested event loop) for at most one fetch_url() when a download
    // is needed, plus the time to hash the file once or twice.
    bool resolve_local_path(QString* local_path_out, QString* error = nullptr) const;
};

}  // namespace vk61
