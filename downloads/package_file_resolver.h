// Internal: the one implementation behind FirmwarePackage::resolve_local_path
// and DatabasePackage::resolve_local_path.
#pragma once

#include "downloads/download_settings.h"
#include "downloads/http_fetch.h"

#include <QString>

#include <functional>

class QObject;

namespace vk61::detail {

// What differs between the two package kinds.
struct PackageFileKind {
    const char* file_field;    // the entry's file name field, for NoFileName: "firmware_file"
    const char* package_noun;  // for NotAvailable: "Firmware"
    const char* what;          // how digest messages name the file
    qint64 max_bytes;          // the kind's size limit
};

// The package's fields that matter for finding its file.
struct PackageFileSource {
    QString manifest_file_name;  // firmware_file or database_file, as in the manifest
    QString download_url;
    QString sha256;
};

// Cache (verified) first, then a verified download into the cache, or - only
// without a URL - the local firmware folder (verified too). A successful
// outcome always names a file inside the cache or the local folder whose
// SHA-256 matched the entry's and whose size is within the kind's limit; an
// entry without a well-formed digest is refused before any file access. `done` runs once, later, on the
// thread of context (see start_fetch); the digests are computed on that thread.
void start_resolve_package_file(const PackageFileSource& source, const PackageFileKind& kind,
                                const DownloadSettings& settings, QObject* context,
                                std::function<void(FileResult)> done);

// The blocking form (see fetch_url).
FileResult resolve_package_file(const PackageFileSource& source, const PackageFileKind& kind,
                                const DownloadSettings& settings);

}  // namespace vk61::detail
