// Where downloaded and locally provided files live. Paths use forward slashes.
#pragma once

#include "downloads/download_settings.h"

#include <QString>
#include <QStringList>

namespace vk61 {

// The per-user cache location of this executable + "/firmware". Created with
// all missing parents on every call; a failure to create it is left for the
// later file operations to report.
QString downloads_cache_dir();

// downloads_cache_dir() + "/downloads_manifest.json": the last manifest that
// came from the server.
QString manifest_cache_path();

// In the order they are tried: <app dir>/firmware/downloads_manifest.json,
// <app dir>/../firmware/downloads_manifest.json. The application directory is
// settings.effective_application_dir(): by default that of the running
// executable. Never the current directory: whatever lies where the tool
// happens to be started is not a copy the user provided.
QStringList local_manifest_candidates(const DownloadSettings& settings);

// The first candidate that is a file, or an empty text.
QString find_local_manifest(const DownloadSettings& settings);

// The directory of find_local_manifest(), or <app dir>/firmware when there is
// no local manifest. Package files provided beside the application live here.
QString local_firmware_dir(const DownloadSettings& settings);

}  // namespace vk61
