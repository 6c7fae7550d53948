// Internal: the values the testing hooks can replace, read by the downloads code.
#pragma once

#include <QString>
#include <QUrl>

namespace vk61::detail {

// default_manifest_url() unless a test or the demo installed an override.
QUrl effective_manifest_url();

// kFetchTimeoutMs unless a test shortened it.
int effective_fetch_timeout_ms();

// The executable's directory unless a test replaced it.
QString effective_application_dir();

}  // namespace vk61::detail
