// How a downloads operation ended: success, or what went wrong from a closed
// list, with the address, file and figures that go with it. The window and
// the command-line tool read the kind; describe() gives the sentence people
// see, the same for both.
#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <cstdint>
#include <utility>

namespace vk61 {

// What went wrong. Every value has one sentence (see describe()); the
// fields of DownloadResult that sentence uses are named beside it.
enum class DownloadFailure : std::uint8_t {
    None,
    BadAddress,          // url: neither https nor http, nothing was sent
    BadRedirect,         // url, detail = the target: a redirect to neither https nor http
    InsecureRedirect,    // url, detail = Qt's text: a redirect from https to http
    HttpStatus,          // url, detail = Qt's text: the server answered with an error status
    Network,             // url, detail = Qt's text: any other network failure
    TimedOut,            // url: the whole exchange outlasted its limit
    TooLarge,            // url, limit: more came, or was announced, than the limit
    Truncated,           // url, received, announced: the body stopped short
    EmptyDownload,       // url: a package download brought no bytes
    EmptyManifest,       // a manifest fetch brought no bytes (no sentence of its own)
    NoDigest,            // file: no well-formed SHA-256 to prove the download with
    EntryWithoutDigest,  // file = the entry's file name: the same, found before any file access
    DigestMismatch,      // what, expected, actual
    FileTooLarge,        // file, limit: a local file over the kind's limit
    FileUnreadable,      // file: could not be opened for reading
    FileReadFailed,      // file: a read failed before the end
    FileWrite,           // file: could not be opened for writing
    FileIncomplete,      // file: not every byte reached the disk
    FileRefused,         // detail = the file writer's refusal (not a regular file)
    ManifestUnreadable,  // file: the manifest file could not be opened
    ManifestTooLarge,    // limit, file (may be empty): a manifest over kMaxManifestBytes
    ManifestRefused,     // url, detail = why: a server's answer that is no manifest
    InvalidJson,         // detail = Qt's parse error text: the manifest is no JSON object
    BadManifest,         // detail = the rule an entry or the document breaks
    SharedFileName,      // file = the entry's file name: two entries with other digests use it
    ReservedFileName,    // file = the entry's file name: it is the manifest's own
    NoFileName,          // detail = the field ("firmware_file"): the entry names no file
    NotAvailable,        // detail = the package noun ("Firmware"): no local file, no download_url
};

// What every downloads result says about a failure, and on its own the result of
// a check that has nothing to hand back.
struct DownloadResult {
    DownloadFailure failure = DownloadFailure::None;
    QString url;     // the address concerned
    QString file;    // the file concerned (or the entry's file name)
    QString detail;  // free text that rides along: Qt's error string, a parser's reason
    qint64 limit = 0;
    qint64 received = 0;
    qint64 announced = 0;
    QString what;  // how digest messages name the file: "Firmware file", "Airport database"
    QString expected;
    QString actual;

    bool ok() const { return failure == DownloadFailure::None; }
    explicit operator bool() const { return ok(); }

    static DownloadResult success() { return {}; }
    static DownloadResult failed(DownloadFailure failure) {
        DownloadResult result;
        result.failure = failure;
        return result;
    }
};

// A fetch into memory: the whole body (possibly empty) on success.
struct FetchResult : DownloadResult {
    QByteArray body;

    FetchResult() = default;
    FetchResult(DownloadResult failure) : DownloadResult(std::move(failure)) {}
    static FetchResult success(QByteArray body) {
        FetchResult result;
        result.body = std::move(body);
        return result;
    }
};

// A file found, verified or downloaded: where it is on success.
struct FileResult : DownloadResult {
    QString path;

    FileResult() = default;
    FileResult(DownloadResult failure) : DownloadResult(std::move(failure)) {}
    static FileResult success(QString path) {
        FileResult result;
        result.path = std::move(path);
        return result;
    }
};

// A file's SHA-256: 64 lower-case hex digits on success.
struct DigestResult : DownloadResult {
    QString sha256;

    DigestResult() = default;
    DigestResult(DownloadResult failure) : DownloadResult(std::move(failure)) {}
};

// The whole sentence, e.g. "Timed out fetching https://...", or
// "Firmware file SHA-256 does not match the manifest." with both digests
// lined up below it. Empty on success (and for EmptyManifest, which has no
// message of its own). Serves the three results above too.
QString describe(const DownloadResult& result);

}  // namespace vk61
