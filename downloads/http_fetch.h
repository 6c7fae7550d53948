// HTTP(S) GET with a hard limit on the whole exchange.
#pragma once

#include "downloads/download_settings.h"

#include <QByteArray>
#include <QString>
#include <QUrl>

#include <functional>

class QObject;

namespace vk61 {

// The end of one fetch: the whole body (possibly empty) or the reason it failed.
struct FetchOutcome {
    bool ok = false;
    QByteArray body;
    QString error;
};

// The end of finding or downloading a file: its path or the reason.
struct FileOutcome {
    bool ok = false;
    QString path;
    QString error;
};

// Plain GET with User-Agent "Corvane_config_v2"; redirects are followed unless
// they lead from https to http. Each call uses its own network access object,
// so no cookies or connections survive it. The request is aborted once
// timeout_ms has passed.
//
// Returns at once; `done` runs exactly once, later, on the thread of `context`
// (which must be the calling thread). Deleting `context` before then aborts
// the request, and `done` never runs.
void start_fetch(const QUrl& url, int timeout_ms, QObject* context, std::function<void(FetchOutcome)> done);

// start_fetch(), then stores a non-empty body at path. The bytes go to a
// temporary file beside path that replaces path only once it is completely
// written, so a failed write leaves whatever was at path before.
void start_download_to_file(const QUrl& url, int timeout_ms, const QString& path, QObject* context,
                            std::function<void(FileOutcome)> done);

// Blocking forms of the two above, for callers without an event loop of their
// own to return to (command-line tools, tests): they wait in a local event
// loop, so never call them on the thread of a window.
bool fetch_url(const QUrl& url, int timeout_ms, QByteArray* body_out, QString* error = nullptr);
bool download_to_file(const QUrl& url, int timeout_ms, const QString& path, QString* error = nullptr);

}  // namespace vk61
