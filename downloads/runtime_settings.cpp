#include "downloads/runtime_settings.h"

#include "downloads/download_locations.h"
#include "downloads/http_fetch.h"
#include "downloads/testing_hooks.h"

#include <QCoreApplication>

namespace vk61 {
namespace {

// Touched only on the GUI thread (see testing_hooks.h), like the rest of the
// downloads state; no lock.
QUrl g_manifest_url_override;
int g_fetch_timeout_ms = kFetchTimeoutMs;
QString g_application_dir_override;

}  // namespace

void set_manifest_url_override_for_testing(const QUrl& url) { g_manifest_url_override = url; }

void set_fetch_timeout_for_testing(int timeout_ms) {
    g_fetch_timeout_ms = timeout_ms > 0 ? timeout_ms : kFetchTimeoutMs;
}

int fetch_timeout_ms_for_testing() { return g_fetch_timeout_ms; }

void set_application_dir_for_testing(const QString& dir) { g_application_dir_override = dir; }

namespace detail {

QUrl effective_manifest_url() {
    return g_manifest_url_override.isEmpty() ? default_manifest_url() : g_manifest_url_override;
}

int effective_fetch_timeout_ms() { return g_fetch_timeout_ms; }

QString effective_application_dir() {
    return g_application_dir_override.isEmpty() ? QCoreApplication::applicationDirPath()
                                                : g_application_dir_override;
}

}  // namespace detail
}  // namespace vk61
