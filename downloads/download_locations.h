// Where downloaded and locally provided files live. Paths use forward slashes.
#pragma once

#include <QString>
#include <QStringList>
#include <QUrl>

namespace vk61 {

// The per-user cache location of this executable + "/firmware". Created with
// all missing parents on every call; a failure to create it is left for the
// later file operations to report.
QString downloads_cache_dir();

// downloads_cache_dir() + "/downloads_manifest.json": the last manifest that
// came from the server.
QString manifest_cache_path();

// In the order they are tried: <app dir>/firmware/downloads_manifest.json,
// <app dir>/../firmware/downloads_manifest.json,
// <current dir>/firmware/downloads_manifest.json. The application directory is
// that of the running executable, not the current directory.
QStringList local_manifest_candidates();

// The first candidate that exists, or an empty text.
QString find_local_manifest();

// The directory of find_local_manifest(), or <app dir>/firmware when there is
// no local manifest. Package files provided beside the application live here.
QString local_firmware_dir();

// https://<manifest host>/firmware/downloads_manifest.json. The host is fixed at
// build time (CMake cache variable VK61_MANIFEST_HOST).
QUrl default_manifest_url();

}  // namespace vk61
