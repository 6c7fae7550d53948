// HTTP(S) GET with a hard limit on the whole exchange.
#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>

namespace vk61 {

// Limit for one fetch: connection, redirects and body together.
inline constexpr int kFetchTimeoutMs = 60000;

// Plain GET with User-Agent "Corvane_config_v2"; redirects are followed unless
// they lead from https to http. Each call uses its own network access object,
// so no cookies or connections survive it.
// Blocks in a nested event loop (the thread keeps processing its events) until
// the reply has finished or kFetchTimeoutMs has passed; then the request is
// aborted. On success *body_out is the whole body, possibly empty.
bool fetch_url(const QUrl& url, QByteArray* body_out, QString* error = nullptr);

// fetch_url(), then stores a non-empty body at path. The bytes go to a
// temporary file beside path that replaces path only once it is completely
// written, so a failed write leaves whatever was at path before.
// Blocks like fetch_url(), plus the time to write the file.
bool download_to_file(const QUrl& url, const QString& path, QString* error = nullptr);

}  // namespace vk61
