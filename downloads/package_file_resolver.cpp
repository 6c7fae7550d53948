#include "downloads/package_file_resolver.h"

#include "downloads/download_limits.h"
#include "downloads/download_locations.h"
#include "downloads/file_digest.h"
#include "downloads/manifest_file_name.h"
#include "downloads/wait_for_outcome.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTimer>
#include <QUrl>

namespace vk61::detail {
namespace {

// Outcomes known without the network still arrive from the event loop, as
// the download's do, so callers see one order of events.
void finish_later(QObject* context, std::function<void(FileResult)> done, FileResult result) {
    QTimer::singleShot(0, context,
                       [done = std::move(done), result = std::move(result)]() mutable { done(std::move(result)); });
}

// A refusal of the entry itself: file is its name, detail the kind's word.
FileResult entry_failure(DownloadFailure failure, const QString& file, const char* detail = "") {
    DownloadResult result = DownloadResult::failed(failure);
    result.file = file;
    result.detail = QString::fromLatin1(detail);
    return result;
}

bool is_within_limit(const QString& path, qint64 max_bytes) {
    const QFileInfo info(path);
    return info.isFile() && info.size() <= max_bytes;
}

}  // namespace

void start_resolve_package_file(const PackageFileSource& source, const PackageFileKind& kind,
                                const DownloadSettings& settings, QObject* context,
                                std::function<void(FileResult)> done) {
    // "..", "." or a trailing separator give no name, so nothing below can
    // read, replace or delete the cache folder's parent or the folder itself.
    const QString file_name = manifest_file_name(source.manifest_file_name);
    if (file_name.isEmpty()) {
        finish_later(context, std::move(done), entry_failure(DownloadFailure::NoFileName, {}, kind.file_field));
        return;
    }

    // The manifest's own cache file is never a package's: checking it as one
    // would delete it.
    if (file_name.compare(QFileInfo(manifest_cache_path()).fileName(), Qt::CaseInsensitive) == 0) {
        finish_later(context, std::move(done), entry_failure(DownloadFailure::ReservedFileName, file_name));
        return;
    }
    if (!is_well_formed_sha256(source.sha256)) {
        finish_later(context, std::move(done), entry_failure(DownloadFailure::EntryWithoutDigest, file_name));
        return;
    }

    const QString cached_path = QDir(downloads_cache_dir()).filePath(file_name);
    if (QFileInfo::exists(cached_path)) {
        if (is_within_limit(cached_path, kind.max_bytes) &&
            verify_file_sha256(cached_path, source.sha256, QString::fromLatin1(kind.what)).ok()) {
            finish_later(context, std::move(done), FileResult::success(cached_path));
            return;
        }
        // Stale (the manifest moved on) or damaged: fetch it again below.
        QFile::remove(cached_path);
    }

    if (!source.download_url.isEmpty()) {
        // A failed download never falls back to the local folder.
        const PackageTarget target{cached_path, kind.max_bytes, source.sha256, QString::fromLatin1(kind.what)};
        start_download_to_file(QUrl(source.download_url, QUrl::TolerantMode), settings.fetch_timeout_ms, target,
                               context, std::move(done));
        return;
    }

    // Files provided beside the application are checked like downloads: the
    // digest is the only proof of what they hold.
    const QString local_path = QDir(local_firmware_dir(settings)).filePath(file_name);
    if (QFileInfo(local_path).isFile()) {
        FileResult checked = entry_failure(DownloadFailure::FileTooLarge, local_path);
        checked.limit = kind.max_bytes;
        if (is_within_limit(local_path, kind.max_bytes))
            checked = verify_file_sha256(local_path, source.sha256, QString::fromLatin1(kind.what));
        if (checked.ok()) checked = FileResult::success(local_path);
        finish_later(context, std::move(done), std::move(checked));
        return;
    }
    finish_later(context, std::move(done), entry_failure(DownloadFailure::NotAvailable, {}, kind.package_noun));
}

FileResult resolve_package_file(const PackageFileSource& source, const PackageFileKind& kind,
                                const DownloadSettings& settings) {
    return wait_for_outcome<FileResult>([&](QObject* context, auto done) {
        start_resolve_package_file(source, kind, settings, context, std::move(done));
    });
}

}  // namespace vk61::detail
