#include "downloads/http_fetch.h"

#include "downloads/download_limits.h"
#include "downloads/error_text.h"
#include "downloads/file_digest.h"
#include "downloads/wait_for_outcome.h"
#include "files/checked_file_writer.h"

#include <QCryptographicHash>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QObject>
#include <QSaveFile>
#include <QTimer>

#include <memory>

namespace vk61 {
namespace {

using detail::set_error;

// The reply buffers at most this much ahead of us, and we take it in pieces
// of this size: what a fetch holds besides its result stays small whatever
// the server sends.
constexpr qint64 kPieceBytes = 256 * 1024;

// Where a fetched body goes: memory (a manifest, capped small) or a
// temporary file beside the package's place, hashed on the way.
class BodySink {
public:
    virtual ~BodySink() = default;
    // False (with *error set) when the piece could not be kept.
    virtual bool take(const char* data, qint64 size, QString* error) = 0;
};

class MemorySink : public BodySink {
public:
    bool take(const char* data, qint64 size, QString*) override {
        body.append(data, size);
        return true;
    }
    QByteArray body;
};

class FileSink : public BodySink {
public:
    explicit FileSink(const PackageTarget& target) : target_(target), file_(target.path) {}

    bool open(QString* error) {
        // The rename at the end would replace whatever is there: only a
        // regular file (or nothing) may be, as for every file the tool writes.
        if (QString refusal = non_regular_target_error(target_.path); !refusal.isEmpty()) {
            *error = std::move(refusal);
            return false;
        }
        if (file_.open(QIODevice::WriteOnly)) return true;
        *error = QStringLiteral("Could not write %1").arg(target_.path);
        return false;
    }
    bool take(const char* data, qint64 size, QString* error) override {
        // Every byte is accounted for: a short write (a full disk, a file
        // size limit) must never be stored as the package.
        if (file_.write(data, size) != size) {
            *error = QStringLiteral("Failed to write complete file to %1").arg(target_.path);
            return false;
        }
        hash_.addData(QByteArrayView(data, size));
        taken_ += size;
        return true;
    }
    // The digest decides; only then does the file take the package's place.
    bool finish(const QUrl& url, QString* error) {
        if (taken_ == 0) {
            *error = QStringLiteral("Downloaded file is empty: %1").arg(url.toString());
            return false;
        }
        const QString expected = target_.sha256.trimmed().toLower();
        const QString actual = QString::fromLatin1(hash_.result().toHex());
        if (actual != expected) {
            *error = sha256_mismatch_message(target_.what, expected, actual);
            return false;
        }
        // The size the file system holds, not the count the write calls
        // claimed (buffered writes fail late), as the checked writer does.
        if (!file_.flush() || file_.size() != taken_ || !file_.commit()) {
            *error = QStringLiteral("Failed to write complete file to %1").arg(target_.path);
            return false;
        }
        return true;
    }
    void discard() { file_.cancelWriting(); }

private:
    PackageTarget target_;
    QSaveFile file_;
    QCryptographicHash hash_{QCryptographicHash::Sha256};
    qint64 taken_ = 0;
};

// One GET in flight. A child of the caller's context, so that deleting the
// context deletes the manager, which aborts and deletes the reply.
class PendingFetch : public QObject {
public:
    PendingFetch(const QUrl& url, int timeout_ms, qint64 max_bytes, std::shared_ptr<BodySink> sink, QObject* context,
                 std::function<void(bool, QString)> done)
        : QObject(context), url_(url), max_bytes_(max_bytes), sink_(std::move(sink)), done_(std::move(done)) {
        // One limit for the whole exchange, not an inactivity time-out: a
        // server that trickles bytes must not hold the caller longer either.
        deadline_.setSingleShot(true);
        connect(&deadline_, &QTimer::timeout, this,
                [this] { fail(QStringLiteral("Timed out fetching %1").arg(url_.toString())); });
        if (!is_followed_scheme(url.scheme())) {
            ended_ = true;
            end(false,
                QStringLiteral("Refused to fetch %1: only https and http addresses are followed").arg(url.toString()));
            return;
        }

        QNetworkRequest request(url);
        request.setHeader(QNetworkRequest::UserAgentHeader, QStringLiteral("Corvane_config_v2"));
        request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
        reply_ = manager_.get(request);
        reply_->setReadBufferSize(kPieceBytes);
        connect(reply_, &QNetworkReply::redirected, this, &PendingFetch::onRedirected);
        connect(reply_, &QNetworkReply::metaDataChanged, this, &PendingFetch::onMetaData);
        connect(reply_, &QNetworkReply::readyRead, this, &PendingFetch::drain);
        connect(reply_, &QNetworkReply::finished, this, &PendingFetch::onFinished);
        deadline_.start(timeout_ms);
    }

    ~PendingFetch() override {
        // The manager below aborts the reply as it goes, which must not read
        // as the end of the fetch.
        ended_ = true;
        if (reply_) reply_->disconnect(this);
    }

private:
    // The redirect policy keeps https from falling back to http; this keeps
    // every hop a web address (never file:, ftp:, data: ...).
    void onRedirected(const QUrl& target) {
        if (!is_followed_scheme(target.scheme())) {
            fail(QStringLiteral("Refused to follow a redirect from %1 to %2: only https and http addresses are "
                                "followed")
                     .arg(url_.toString(), target.toString()));
        }
    }

    // A length over the limit is refused before its body is read.
    void onMetaData() {
        if (ended_) return;
        const QVariant length = reply_->header(QNetworkRequest::ContentLengthHeader);
        if (length.isValid() && length.toLongLong() > max_bytes_) fail(too_large());
    }

    void drain() {
        char piece[16 * 1024];
        while (!ended_ && reply_->bytesAvailable() > 0) {
            const qint64 n = reply_->read(piece, sizeof piece);
            if (n <= 0) return;
            received_ += n;
            if (received_ > max_bytes_) {
                fail(too_large());
                return;
            }
            QString error;
            if (!sink_->take(piece, n, &error)) {
                fail(error);
                return;
            }
        }
    }

    void onFinished() {
        if (ended_) return;
        if (reply_->error() != QNetworkReply::NoError) {
            fail(QStringLiteral("Network error fetching %1: %2").arg(url_.toString(), reply_->errorString()));
            return;
        }
        drain();  // anything that arrived with the finish
        if (ended_) return;
        // A body that stops short of its announced length was cut off. (One
        // that runs longer is cut at that length by the network layer; the
        // digest or the manifest checks refuse what is left.) A compressed
        // body is counted after decompression, so it is not compared.
        const QVariant length = reply_->header(QNetworkRequest::ContentLengthHeader);
        const QByteArray encoding = reply_->rawHeader("Content-Encoding").trimmed().toLower();
        if (length.isValid() && (encoding.isEmpty() || encoding == "identity") && length.toLongLong() != received_) {
            fail(QStringLiteral("Download of %1 ended after %2 of %3 announced bytes")
                     .arg(url_.toString())
                     .arg(received_)
                     .arg(length.toLongLong()));
            return;
        }
        ended_ = true;
        deadline_.stop();
        end(true, {});
    }

    QString too_large() const {
        return QStringLiteral("Refused %1: larger than the limit of %2 bytes").arg(url_.toString()).arg(max_bytes_);
    }

    void fail(const QString& message) {
        if (ended_) return;
        ended_ = true;
        deadline_.stop();
        if (reply_) {
            reply_->disconnect(this);  // abort() finishes the reply at once; that is not a success
            reply_->abort();
        }
        end(false, message);
    }

    // `done` runs from the event loop, not inside the reply's signal, so it
    // may delete the context (and with it the reply) freely; a context gone
    // by then drops it. The sink goes with it, so a file sink is finished
    // (or discarded) there.
    void end(bool ok, QString error) {
        QTimer::singleShot(0, parent(), [done = std::move(done_), ok, error = std::move(error)]() mutable {
            done(ok, std::move(error));
        });
        deleteLater();
    }

    QUrl url_;
    qint64 max_bytes_;
    qint64 received_ = 0;
    std::shared_ptr<BodySink> sink_;
    std::function<void(bool, QString)> done_;
    QTimer deadline_;
    // Fresh per fetch: no cookies or connections are shared.
    QNetworkAccessManager manager_;
    QNetworkReply* reply_ = nullptr;
    bool ended_ = false;
};

}  // namespace

void start_fetch(const QUrl& url, int timeout_ms, qint64 max_bytes, QObject* context,
                 std::function<void(FetchOutcome)> done) {
    auto sink = std::make_shared<MemorySink>();
    new PendingFetch(url, timeout_ms, max_bytes, sink, context, [sink, done = std::move(done)](bool ok, QString error) {
        if (!ok) {
            done({false, {}, std::move(error)});
            return;
        }
        done({true, std::move(sink->body), {}});
    });
}

void start_download_to_file(const QUrl& url, int timeout_ms, const PackageTarget& target, QObject* context,
                            std::function<void(FileOutcome)> done) {
    auto sink = std::make_shared<FileSink>(target);
    QString error;
    if (!is_well_formed_sha256(target.sha256)) {
        // Without a digest there is nothing to prove the bytes with: nothing is fetched.
        error = QStringLiteral("No valid SHA-256 digest for %1; it is not downloaded").arg(target.path);
    } else if (is_followed_scheme(url.scheme())) {
        sink->open(&error);
    }  // else PendingFetch refuses the scheme with its own message
    if (!error.isEmpty()) {
        QTimer::singleShot(0, context, [done = std::move(done), error]() { done({false, {}, error}); });
        return;
    }
    new PendingFetch(url, timeout_ms, target.max_bytes, sink, context,
                     [sink, url, path = target.path, done = std::move(done)](bool ok, QString error) {
                         // Counted and written as it came; the digest and the commit decide.
                         if (ok) ok = sink->finish(url, &error);
                         if (!ok) {
                             sink->discard();
                             done({false, {}, std::move(error)});
                             return;
                         }
                         done({true, path, {}});
                     });
}

bool fetch_url(const QUrl& url, int timeout_ms, qint64 max_bytes, QByteArray* body_out, QString* error) {
    if (!body_out) {
        set_error(error, QStringLiteral("body_out is null"));
        return false;
    }
    FetchOutcome outcome = detail::wait_for_outcome<FetchOutcome>(
        [&](QObject* context, auto done) { start_fetch(url, timeout_ms, max_bytes, context, std::move(done)); });
    if (!outcome.ok) {
        set_error(error, outcome.error);
        return false;
    }
    *body_out = std::move(outcome.body);
    return true;
}

bool download_to_file(const QUrl& url, int timeout_ms, const PackageTarget& target, QString* error) {
    const FileOutcome outcome = detail::wait_for_outcome<FileOutcome>([&](QObject* context, auto done) {
        start_download_to_file(url, timeout_ms, target, context, std::move(done));
    });
    if (!outcome.ok) set_error(error, outcome.error);
    return outcome.ok;
}

}  // namespace vk61
