#include "downloads/http_fetch.h"

#include "downloads/error_text.h"
#include "downloads/wait_for_outcome.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QObject>
#include <QPointer>
#include <QSaveFile>
#include <QTimer>

namespace vk61 {
namespace {

using detail::set_error;

// One GET in flight. A child of the caller's context, so that deleting the
// context deletes the manager, which aborts and deletes the reply.
class PendingFetch : public QObject {
public:
    PendingFetch(const QUrl& url, int timeout_ms, QObject* context, std::function<void(FetchOutcome)> done)
        : QObject(context), url_(url), done_(std::move(done)) {
        QNetworkRequest request(url);
        request.setHeader(QNetworkRequest::UserAgentHeader, QStringLiteral("Corvane_config_v2"));
        request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                             QNetworkRequest::NoLessSafeRedirectPolicy);
        reply_ = manager_.get(request);

        // The body is held once, here: it is taken from the reply as it
        // arrives, the reply buffers at most kReplyBufferBytes ahead of us,
        // and an announced length is reserved up front so that growing never
        // copies it. (54 MiB download peaks at about 1.1x its size, see bench/.)
        constexpr qint64 kReplyBufferBytes = 1 << 20;
        constexpr qint64 kMaxReserveBytes = qint64(256) << 20;  // a length header is only a hint
        reply_->setReadBufferSize(kReplyBufferBytes);
        connect(reply_, &QNetworkReply::metaDataChanged, this, [this] {
            const qint64 announced = reply_->header(QNetworkRequest::ContentLengthHeader).toLongLong();
            if (announced > 0 && announced <= kMaxReserveBytes)
                body_.reserve(announced);
        });
        connect(reply_, &QNetworkReply::readyRead, this, [this] { body_.append(reply_->readAll()); });
        connect(reply_, &QNetworkReply::finished, this, &PendingFetch::onFinished);

        // One limit for the whole exchange, not an inactivity time-out: a
        // server that trickles bytes must not hold the caller longer either.
        deadline_.setSingleShot(true);
        connect(&deadline_, &QTimer::timeout, this, &PendingFetch::onDeadline);
        deadline_.start(timeout_ms);
    }

    ~PendingFetch() override {
        // The manager below aborts the reply as it goes, which must not read
        // as the end of the fetch.
        ended_ = true;
        if (reply_)
            reply_->disconnect(this);
    }

private:
    void onDeadline() {
        if (ended_)
            return;
        ended_ = true;
        reply_->disconnect(this);  // abort() finishes the reply at once; that is not a success
        reply_->abort();
        end({false, {}, QStringLiteral("Timed out fetching %1").arg(url_.toString())});
    }

    void onFinished() {
        if (ended_)
            return;
        ended_ = true;
        deadline_.stop();
        if (reply_->error() != QNetworkReply::NoError) {
            end({false, {}, QStringLiteral("Network error fetching %1: %2").arg(url_.toString(), reply_->errorString())});
            return;
        }
        body_.append(reply_->readAll());  // anything that arrived with the finish
        end({true, std::move(body_), {}});
    }

    // `done` runs from the event loop, not inside the reply's signal, so it
    // may delete the context (and with it the reply) freely; a context gone
    // by then drops it.
    void end(FetchOutcome outcome) {
        QTimer::singleShot(0, parent(), [done = std::move(done_), outcome = std::move(outcome)]() mutable {
            done(std::move(outcome));
        });
        deleteLater();
    }

    QUrl url_;
    std::function<void(FetchOutcome)> done_;
    QByteArray body_;
    QTimer deadline_;
    // Fresh per fetch: no cookies or connections are shared. Declared after
    // body_, so the reply it deletes is gone before body_ is.
    QNetworkAccessManager manager_;
    QNetworkReply* reply_ = nullptr;
    bool ended_ = false;
};

// A short write must never leave a truncated file at path: packages without
// a digest are re-used from the cache unchecked. QSaveFile writes beside path
// and renames over it only in commit(); on any failure the temporary file is
// discarded and path keeps what it held before.
FileOutcome store_body(const QUrl& url, const QByteArray& body, const QString& path) {
    if (body.isEmpty())
        return {false, {}, QStringLiteral("Downloaded file is empty: %1").arg(url.toString())};
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return {false, {}, QStringLiteral("Could not write %1").arg(path)};
    if (file.write(body) != body.size() || !file.commit()) {
        file.cancelWriting();
        return {false, {}, QStringLiteral("Failed to write complete file to %1").arg(path)};
    }
    return {true, path, {}};
}

}  // namespace

void start_fetch(const QUrl& url, int timeout_ms, QObject* context, std::function<void(FetchOutcome)> done) {
    new PendingFetch(url, timeout_ms, context, std::move(done));  // owned by context; deletes itself when done
}

void start_download_to_file(const QUrl& url, int timeout_ms, const QString& path, QObject* context,
                            std::function<void(FileOutcome)> done) {
    start_fetch(url, timeout_ms, context, [url, path, done = std::move(done)](FetchOutcome fetched) {
        if (!fetched.ok) {
            done({false, {}, fetched.error});
            return;
        }
        done(store_body(url, fetched.body, path));
    });
}

bool fetch_url(const QUrl& url, int timeout_ms, QByteArray* body_out, QString* error) {
    if (!body_out) {
        set_error(error, QStringLiteral("body_out is null"));
        return false;
    }
    FetchOutcome outcome = detail::wait_for_outcome<FetchOutcome>(
        [&](QObject* context, auto done) { start_fetch(url, timeout_ms, context, std::move(done)); });
    if (!outcome.ok) {
        set_error(error, outcome.error);
        return false;
    }
    *body_out = std::move(outcome.body);
    return true;
}

bool download_to_file(const QUrl& url, int timeout_ms, const QString& path, QString* error) {
    const FileOutcome outcome = detail::wait_for_outcome<FileOutcome>([&](QObject* context, auto done) {
        start_download_to_file(url, timeout_ms, path, context, std::move(done));
    });
    if (!outcome.ok)
        set_error(error, outcome.error);
    return outcome.ok;
}

}  // namespace vk61
