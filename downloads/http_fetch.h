// HTTP(S) GET with a hard limit on the whole exchange and on the size of what
// it brings.
#pragma once

#include "downloads/download_result.h"
#include "downloads/download_settings.h"

#include <QByteArray>
#include <QString>
#include <QUrl>

#include <functional>

class QObject;

namespace vk61 {

// What a package download must prove before it is stored.
struct PackageTarget {
    QString path;      // where the verified file is stored
    qint64 max_bytes;  // the kind's size limit
    QString sha256;    // expected digest, 64 hex digits (trimmed, any case)
    QString what;      // how messages name the file: "Firmware file", "Airport database"
};

// Plain GET with User-Agent "Corvane_config_v2"; redirects are followed unless
// they lead from https to http, and only to https or http addresses (a request
// for any other scheme fails before it is sent). Each call uses its own
// network access object, so no cookies or connections survive it. The request
// is aborted once timeout_ms has passed, once more than max_bytes have come
// or are announced, and a body shorter than its announced length fails
// (BadAddress, BadRedirect, InsecureRedirect, HttpStatus, Network, TimedOut,
// TooLarge, Truncated).
//
// Returns at once; `done` runs exactly once, later, on the thread of `context`
// (which must be the calling thread). Deleting `context` before then aborts
// the request, and `done` never runs.
void start_fetch(const QUrl& url, int timeout_ms, qint64 max_bytes, QObject* context,
                 std::function<void(FetchResult)> done);

// The same GET, but the body streams into a temporary file beside
// target.path and is hashed as it comes; memory use does not grow with its
// size. Only a non-empty body within target.max_bytes whose SHA-256 equals
// target.sha256 replaces target.path; on any failure the temporary file is
// discarded and target.path keeps what it held before (NoDigest,
// EmptyDownload, DigestMismatch, FileWrite, FileIncomplete, FileRefused, or
// one of start_fetch's failures).
void start_download_to_file(const QUrl& url, int timeout_ms, const PackageTarget& target, QObject* context,
                            std::function<void(FileResult)> done);

// Blocking forms of the two above, for callers without an event loop of their
// own to return to (command-line tools, tests): they wait in a local event
// loop, so never call them on the thread of a window.
FetchResult fetch_url(const QUrl& url, int timeout_ms, qint64 max_bytes);
FileResult download_to_file(const QUrl& url, int timeout_ms, const PackageTarget& target);

}  // namespace vk61
