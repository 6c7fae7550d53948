// Blocking forms of the ManifestService operations, for callers without a
// window (command-line tools, tests): each waits in a local event loop for at
// most one fetch plus two small file reads, so never call them on the thread
// of a window.
#pragma once

#include "downloads/download_result.h"
#include "downloads/firmware_package.h"

#include <QList>
#include <QString>

namespace vk61 {

class ManifestService;

// The whole file, possibly empty, as the body; a file larger than
// kMaxManifestBytes is refused without being read whole (ManifestUnreadable,
// ManifestTooLarge).
FetchResult read_manifest_file(const QString& path);

// ManifestService::load(); timeout_ms < 0 is the settings' fetch limit.
FetchResult load_manifest_bytes(ManifestService& service, int timeout_ms = -1);

// ManifestService::fetch_online().
FetchResult fetch_manifest_online(ManifestService& service);

// load_manifest_bytes() for its side effect: after a network success both the
// memory copy and manifest_cache_path() hold the manifest.
DownloadResult prefetch_manifest(ManifestService& service);

// load_manifest_bytes(), then parse_firmware_manifest(). On a load failure
// *entries_out is left untouched.
DownloadResult load_firmware_packages(ManifestService& service, QList<FirmwarePackage>* entries_out,
                                      int timeout_ms = -1);

}  // namespace vk61
