#include "downloads/http_fetch.h"

#include "downloads/download_limits.h"
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

// The reply buffers at most this much ahead of us, and we take it in pieces
// of this size: what a fetch holds besides its result stays small whatever
// the server sends.
constexpr qint64 kPieceBytes = 256 * 1024;

// Where a fetched body goes: memory (a manifest, capped small) or a
// temporary file beside the package's place, hashed on the way.
class BodySink {
public:
    virtual ~BodySink() = default;
    // A failure when the piece could not be kept.
    virtual DownloadResult take(const char* data, qint64 size) = 0;
};

DownloadResult failure_at(DownloadFailure failure, const QUrl& url) {
    DownloadResult result = DownloadResult::failed(failure);
    result.url = url.toString();
    return result;
}

DownloadResult file_failure(DownloadFailure failure, const QString& path) {
    DownloadResult result = DownloadResult::failed(failure);
    result.file = path;
    return result;
}

// Qt's error for a reply that ended badly, sorted into the kinds callers
// tell apart; the text is Qt's either way.
DownloadFailure network_failure(const QNetworkReply& reply) {
    if (reply.error() == QNetworkReply::InsecureRedirectError) return DownloadFailure::InsecureRedirect;
    if (reply.attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() >= 400) return DownloadFailure::HttpStatus;
    return DownloadFailure::Network;
}

class MemorySink : public BodySink {
public:
    DownloadResult take(const char* data, qint64 size) override {
        body.append(data, size);
        return DownloadResult::success();
    }
    QByteArray body;
};

class FileSink : public BodySink {
public:
    explicit FileSink(const PackageTarget& target) : target_(target), file_(target.path) {}

    DownloadResult open() {
        // The rename at the end would replace whatever is there: only a
        // regular file (or nothing) may be, as for every file the tool writes.
        if (const FileWriteResult refusal = check_replaceable(target_.path); !refusal.ok()) {
            DownloadResult result = file_failure(DownloadFailure::FileRefused, target_.path);
            result.detail = describe(refusal);
            return result;
        }
        if (file_.open(QIODevice::WriteOnly)) return DownloadResult::success();
        return file_failure(DownloadFailure::FileWrite, target_.path);
    }
    DownloadResult take(const char* data, qint64 size) override {
        // Every byte is accounted for: a short write (a full disk, a file
        // size limit) must never be stored as the package.
        if (file_.write(data, size) != size) return file_failure(DownloadFailure::FileIncomplete, target_.path);
        hash_.addData(QByteArrayView(data, size));
        taken_ += size;
        return DownloadResult::success();
    }
    // The digest decides; only then does the file take the package's place.
    DownloadResult finish(const QUrl& url) {
        if (taken_ == 0) return failure_at(DownloadFailure::EmptyDownload, url);
        const QString expected = target_.sha256.trimmed().toLower();
        const QString actual = QString::fromLatin1(hash_.result().toHex());
        if (actual != expected) return sha256_mismatch(target_.what, expected, actual);
        // The size the file system holds, not the count the write calls
        // claimed (buffered writes fail late), as the checked writer does.
        if (!file_.flush() || file_.size() != taken_ || !file_.commit())
            return file_failure(DownloadFailure::FileIncomplete, target_.path);
        return DownloadResult::success();
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
                 std::function<void(DownloadResult)> done)
        : QObject(context), url_(url), max_bytes_(max_bytes), sink_(std::move(sink)), done_(std::move(done)) {
        // One limit for the whole exchange, not an inactivity time-out: a
        // server that trickles bytes must not hold the caller longer either.
        deadline_.setSingleShot(true);
        connect(&deadline_, &QTimer::timeout, this, [this] { fail(failure_at(DownloadFailure::TimedOut, url_)); });
        if (!is_followed_scheme(url.scheme())) {
            ended_ = true;
            end(failure_at(DownloadFailure::BadAddress, url));
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
            DownloadResult refused = failure_at(DownloadFailure::BadRedirect, url_);
            refused.detail = target.toString();
            fail(std::move(refused));
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
            if (DownloadResult kept = sink_->take(piece, n); !kept.ok()) {
                fail(std::move(kept));
                return;
            }
        }
    }

    void onFinished() {
        if (ended_) return;
        if (reply_->error() != QNetworkReply::NoError) {
            DownloadResult failed = failure_at(network_failure(*reply_), url_);
            failed.detail = reply_->errorString();
            fail(std::move(failed));
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
            DownloadResult truncated = failure_at(DownloadFailure::Truncated, url_);
            truncated.received = received_;
            truncated.announced = length.toLongLong();
            fail(std::move(truncated));
            return;
        }
        ended_ = true;
        deadline_.stop();
        end(DownloadResult::success());
    }

    DownloadResult too_large() const {
        DownloadResult result = failure_at(DownloadFailure::TooLarge, url_);
        result.limit = max_bytes_;
        return result;
    }

    void fail(DownloadResult failure) {
        if (ended_) return;
        ended_ = true;
        deadline_.stop();
        if (reply_) {
            reply_->disconnect(this);  // abort() finishes the reply at once; that is not a success
            reply_->abort();
        }
        end(std::move(failure));
    }

    // `done` runs from the event loop, not inside the reply's signal, so it
    // may delete the context (and with it the reply) freely; a context gone
    // by then drops it. The sink goes with it, so a file sink is finished
    // (or discarded) there.
    void end(DownloadResult result) {
        QTimer::singleShot(
            0, parent(), [done = std::move(done_), result = std::move(result)]() mutable { done(std::move(result)); });
        deleteLater();
    }

    QUrl url_;
    qint64 max_bytes_;
    qint64 received_ = 0;
    std::shared_ptr<BodySink> sink_;
    std::function<void(DownloadResult)> done_;
    QTimer deadline_;
    // Fresh per fetch: no cookies or connections are shared.
    QNetworkAccessManager manager_;
    QNetworkReply* reply_ = nullptr;
    bool ended_ = false;
};

}  // namespace

void start_fetch(const QUrl& url, int timeout_ms, qint64 max_bytes, QObject* context,
                 std::function<void(FetchResult)> done) {
    auto sink = std::make_shared<MemorySink>();
    new PendingFetch(url, timeout_ms, max_bytes, sink, context, [sink, done = std::move(done)](DownloadResult ended) {
        if (!ended.ok()) {
            done(std::move(ended));
            return;
        }
        done(FetchResult::success(std::move(sink->body)));
    });
}

void start_download_to_file(const QUrl& url, int timeout_ms, const PackageTarget& target, QObject* context,
                            std::function<void(FileResult)> done) {
    auto sink = std::make_shared<FileSink>(target);
    DownloadResult refused;
    if (!is_well_formed_sha256(target.sha256)) {
        // Without a digest there is nothing to prove the bytes with: nothing is fetched.
        refused = file_failure(DownloadFailure::NoDigest, target.path);
    } else if (is_followed_scheme(url.scheme())) {
        refused = sink->open();
    }  // else PendingFetch refuses the scheme with its own failure
    if (!refused.ok()) {
        QTimer::singleShot(0, context, [done = std::move(done), refused]() { done(refused); });
        return;
    }
    new PendingFetch(url, timeout_ms, target.max_bytes, sink, context,
                     [sink, url, path = target.path, done = std::move(done)](DownloadResult ended) {
                         // Counted and written as it came; the digest and the commit decide.
                         if (ended.ok()) ended = sink->finish(url);
                         if (!ended.ok()) {
                             sink->discard();
                             done(std::move(ended));
                             return;
                         }
                         done(FileResult::success(path));
                     });
}

FetchResult fetch_url(const QUrl& url, int timeout_ms, qint64 max_bytes) {
    return detail::wait_for_outcome<FetchResult>(
        [&](QObject* context, auto done) { start_fetch(url, timeout_ms, max_bytes, context, std::move(done)); });
}

FileResult download_to_file(const QUrl& url, int timeout_ms, const PackageTarget& target) {
    return detail::wait_for_outcome<FileResult>([&](QObject* context, auto done) {
        start_download_to_file(url, timeout_ms, target, context, std::move(done));
    });
}

}  // namespace vk61
