#include "downloads/download_result.h"

namespace vk61 {

QString describe(const DownloadResult& r) {
    // Every text here is quoted by the README or the tests: keep them word for word.
    static const QString kFollowed = QStringLiteral("only https and http addresses are followed");
    switch (r.failure) {
    case DownloadFailure::None:
    case DownloadFailure::EmptyManifest: return {};
    case DownloadFailure::BadAddress: return QStringLiteral("Refused to fetch %1: %2").arg(r.url, kFollowed);
    case DownloadFailure::BadRedirect:
        return QStringLiteral("Refused to follow a redirect from %1 to %2: %3").arg(r.url, r.detail, kFollowed);
    case DownloadFailure::InsecureRedirect:
    case DownloadFailure::HttpStatus:
    case DownloadFailure::Network: return QStringLiteral("Network error fetching %1: %2").arg(r.url, r.detail);
    case DownloadFailure::TimedOut: return QStringLiteral("Timed out fetching %1").arg(r.url);
    case DownloadFailure::TooLarge:
        return QStringLiteral("Refused %1: larger than the limit of %2 bytes").arg(r.url).arg(r.limit);
    case DownloadFailure::Truncated:
        return QStringLiteral("Download of %1 ended after %2 of %3 announced bytes")
            .arg(r.url)
            .arg(r.received)
            .arg(r.announced);
    case DownloadFailure::EmptyDownload: return QStringLiteral("Downloaded file is empty: %1").arg(r.url);
    case DownloadFailure::NoDigest:
        return QStringLiteral("No valid SHA-256 digest for %1; it is not downloaded").arg(r.file);
    case DownloadFailure::EntryWithoutDigest:
        return QStringLiteral("Manifest entry %1 has no valid sha256 (64 hexadecimal digits)").arg(r.file);
    case DownloadFailure::DigestMismatch:
        return QStringLiteral("%1 SHA-256 does not match the manifest.\nExpected: %2\nActual:   %3")
            .arg(r.what, r.expected, r.actual);
    case DownloadFailure::FileTooLarge:
        return QStringLiteral("%1 is larger than the limit of %2 bytes").arg(r.file).arg(r.limit);
    case DownloadFailure::FileUnreadable: return QStringLiteral("Could not read firmware file: %1").arg(r.file);
    case DownloadFailure::FileReadFailed: return QStringLiteral("Failed to hash firmware file: %1").arg(r.file);
    case DownloadFailure::FileWrite: return QStringLiteral("Could not write %1").arg(r.file);
    case DownloadFailure::FileIncomplete: return QStringLiteral("Failed to write complete file to %1").arg(r.file);
    case DownloadFailure::FileRefused:
    case DownloadFailure::BadManifest: return r.detail;
    case DownloadFailure::ManifestUnreadable: return QStringLiteral("Could not open manifest: %1").arg(r.file);
    case DownloadFailure::ManifestTooLarge:
        if (r.file.isEmpty()) return QStringLiteral("Manifest is larger than the limit of %1 bytes").arg(r.limit);
        return QStringLiteral("Manifest is larger than the limit of %1 bytes: %2").arg(r.limit).arg(r.file);
    case DownloadFailure::ManifestRefused:
        return QStringLiteral("Refused the downloads manifest from %1: %2").arg(r.url, r.detail);
    case DownloadFailure::InvalidJson: return QStringLiteral("Invalid manifest JSON: %1").arg(r.detail);
    case DownloadFailure::ReservedFileName:
        return QStringLiteral("Package file name %1 is the manifest's own name").arg(r.file);
    case DownloadFailure::SharedFileName:
        return QStringLiteral("Package file name %1 is used by two entries").arg(r.file);
    case DownloadFailure::NoFileName: return QStringLiteral("Manifest entry has no %1 name").arg(r.detail);
    case DownloadFailure::NotAvailable:
        return QStringLiteral("%1 package not available locally and manifest has no download_url").arg(r.detail);
    }
    return {};
}

}  // namespace vk61
