#include "downloads/http_fetch.h"

#include "downloads/error_text.h"
#include "downloads/runtime_settings.h"

#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSaveFile>
#include <QTimer>

namespace vk61 {

using detail::set_error;

bool fetch_url(const QUrl& url, QByteArray* body_out, QString* error) {
    if (!body_out) {
        set_error(error, QStringLiteral("body_out is null"));
        return false;
    }

    // Declared before the manager: the manager deletes the reply, whose
    // connections reference body, when it goes out of scope.
    QByteArray body;
    QNetworkAccessManager manager;  // fresh per call: no cookies or connections are shared

    QNetworkRequest request(url);
    request.setHeader(QNetworkRequest::UserAgentHeader, QStringLiteral("Corvane_config_v2"));
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::NoLessSafeRedirectPolicy);
    QNetworkReply* reply = manager.get(request);

    // The body is held once, here: it is taken from the reply as it arrives,
    // the reply buffers at most kReplyBufferBytes ahead of us, and an announced
    // length is reserved up front so that growing never copies it.
    // (54 MiB download peaks at about 1.1x its size, see bench/.)
    constexpr qint64 kReplyBufferBytes = 1 << 20;
    constexpr qint64 kMaxReserveBytes = qint64(256) << 20;  // a length header is only a hint
    reply->setReadBufferSize(kReplyBufferBytes);
    QObject::connect(reply, &QNetworkReply::metaDataChanged, reply, [&body, reply] {
        const qint64 announced = reply->header(QNetworkRequest::ContentLengthHeader).toLongLong();
        if (announced > 0 && announced <= kMaxReserveBytes)
            body.reserve(announced);
    });
    QObject::connect(reply, &QNetworkReply::readyRead, reply,
                     [&body, reply] { body.append(reply->readAll()); });

    // One limit for the whole exchange, not an inactivity time-out: a server
    // that trickles bytes must not hold the caller longer than this either.
    QEventLoop loop;
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    deadline.start(detail::effective_fetch_timeout_ms());
    if (!reply->isFinished())
        loop.exec();

    if (!reply->isFinished()) {
        reply->abort();  // body outlives the reply, so its last signals are harmless
        reply->deleteLater();
        set_error(error, QStringLiteral("Timed out fetching %1").arg(url.toString()));
        return false;
    }
    deadline.stop();

    if (reply->error() != QNetworkReply::NoError) {
        set_error(error, QStringLiteral("Network error fetching %1: %2")
                             .arg(url.toString(), reply->errorString()));
        reply->deleteLater();
        return false;
    }
    body.append(reply->readAll());  // anything that arrived with the finish
    *body_out = std::move(body);
    reply->deleteLater();
    return true;
}

bool download_to_file(const QUrl& url, const QString& path, QString* error) {
    QByteArray body;
    if (!fetch_url(url, &body, error))
        return false;
    if (body.isEmpty()) {
        set_error(error, QStringLiteral("Downloaded file is empty: %1").arg(url.toString()));
        return false;
    }

    // A short write must never leave a truncated file at path: packages without
    // a digest are re-used from the cache unchecked. QSaveFile writes beside
    // path and renames over it only in commit(); on any failure the temporary
    // file is discarded and path keeps what it held before.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        set_error(error, QStringLiteral("Could not write %1").arg(path));
        return false;
    }
    if (file.write(body) != body.size() || !file.commit()) {
        file.cancelWriting();
        set_error(error, QStringLiteral("Failed to write complete file to %1").arg(path));
        return false;
    }
    return true;
}

}  // namespace vk61
