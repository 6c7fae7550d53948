// Hooks for the test suite and the demo build. The product never calls these;
// they exist so that a test can shorten a limit the product fixes, and so that
// the demo can reach its download server on loopback, without the application
// gaining an option or an environment variable.
// Call them on the GUI thread, before the downloads code they affect runs.
#pragma once

#include <QString>
#include <QUrl>

namespace vk61 {

// Manifest URL used by load_manifest_bytes() and fetch_manifest_online() instead
// of default_manifest_url(). An empty URL restores the default.
void set_manifest_url_override_for_testing(const QUrl& url);

// Limit for each fetch_url() call. 0 or less restores kFetchTimeoutMs.
void set_fetch_timeout_for_testing(int timeout_ms);

// The limit fetch_url() applies now.
int fetch_timeout_ms_for_testing();

// Directory used in place of the executable's own directory by the local
// manifest and firmware locations. An empty text restores the executable's.
void set_application_dir_for_testing(const QString& dir);

// Forgets the in-memory manifest, as a new process would start.
void clear_manifest_memory_cache_for_testing();

}  // namespace vk61
