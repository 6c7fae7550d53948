#include "downloads/file_digest.h"

#include "downloads/sha256_stream.h"

#include <QFile>

namespace vk61 {
namespace {

DownloadResult file_failure(DownloadFailure failure, const QString& path) {
    DownloadResult result = DownloadResult::failed(failure);
    result.file = path;
    return result;
}

}  // namespace

DigestResult compute_file_sha256(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return file_failure(DownloadFailure::FileUnreadable, path);
    // Streamed: a 54 MiB database is never held in memory for hashing.
    QByteArray digest;
    if (!detail::sha256_of_device(&file, &digest)) return file_failure(DownloadFailure::FileReadFailed, path);
    DigestResult result;
    result.sha256 = QString::fromLatin1(digest.toHex());
    return result;
}

DownloadResult sha256_mismatch(const QString& what, const QString& expected, const QString& actual) {
    DownloadResult result = DownloadResult::failed(DownloadFailure::DigestMismatch);
    result.what = what;
    result.expected = expected;
    result.actual = actual;
    return result;
}

DownloadResult verify_file_sha256(const QString& path, const QString& expected_sha256, const QString& what) {
    const QString expected = expected_sha256.trimmed().toLower();
    if (expected.isEmpty()) return DownloadResult::success();  // the manifest gives no digest: accepted unread

    const DigestResult computed = compute_file_sha256(path);
    if (!computed.ok()) return computed;
    const QString actual = computed.sha256.trimmed().toLower();
    if (actual == expected) return DownloadResult::success();
    return sha256_mismatch(what, expected, actual);
}

}  // namespace vk61
