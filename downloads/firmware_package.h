// One firmware entry of the downloads manifest.
#pragma once

#include "downloads/firmware_version.h"
#include "downloads/http_fetch.h"

#include <QString>
#include <QStringList>

#include <functional>

class QObject;

namespace vk61 {

// Value type, copied freely; lists of it keep manifest order.
struct FirmwarePackage {
    QString device_type;  // two hex digits, trimmed and upper-cased at parse
    QString display_name;
    QStringList hardware_revisions;  // decimal texts; empty = every revision
    FirmwareVersion firmware_version;
    QString firmware_file;  // only its last path component is used
    QString download_url;   // empty = look only in local_firmware_dir()
    QString sha256;         // hex text; empty = the file is not verified
    QString minimum_bootloader_version;

    // Turns the package into a file on disk: a cached copy that passes its
    // digest, else a fresh download into the cache (verified), else - only
    // for a package without download_url - the file in local_firmware_dir().
    // `done` runs once, later, on the thread of context (see start_fetch);
    // the file is hashed once or twice on that thread.
    void start_resolve_local_path(const DownloadSettings& settings, QObject* context,
                                  std::function<void(FileResult)> done) const;

    // The blocking form, for callers without a window (see fetch_url).
    FileResult resolve_local_path(const DownloadSettings& settings) const;

    friend bool operator==(const FirmwarePackage&, const FirmwarePackage&) = default;
};

}  // namespace vk61
