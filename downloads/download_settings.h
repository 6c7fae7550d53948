// Where the downloads code fetches the manifest from, how long one fetch may
// take and which folder counts as the application's. The defaults are the
// product's; a caller that wants other values (the demo build, the tests)
// passes them in a settings value of its own.
#pragma once

#include <QString>
#include <QUrl>

namespace vk61 {

// Limit for one fetch: connection, redirects and body together.
inline constexpr int kFetchTimeoutMs = 60000;

// At most one online manifest attempt per this interval comes from lookups
// of the package list (the devices table refreshes many times a minute).
inline constexpr int kManifestRetryIntervalMs = 60000;

// https://<manifest host>/firmware/downloads_manifest.json. The host is fixed at
// build time (CMake cache variable VK61_MANIFEST_HOST).
QUrl default_manifest_url();

// Limit for a manifest lookup that is only nice to have (the update column of
// a unit list, the digest of a file the user chose): better an answer without
// it than a minute's wait.
inline constexpr int kOptionalLookupTimeoutMs = 5000;

struct DownloadSettings {
    QUrl manifest_url = default_manifest_url();
    int fetch_timeout_ms = kFetchTimeoutMs;
    int optional_lookup_timeout_ms = kOptionalLookupTimeoutMs;
    int manifest_retry_interval_ms = kManifestRetryIntervalMs;
    // Where local manifests and package files beside the application are
    // looked for; empty means the running executable's own folder.
    QString application_dir;

    // application_dir, or the executable's folder when it is empty.
    QString effective_application_dir() const;
};

}  // namespace vk61
