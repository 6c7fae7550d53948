#include "downloads/package_file_resolver.h"

#include "downloads/download_limits.h"
#include "downloads/download_locations.h"
#include "downloads/error_text.h"
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
void finish_later(QObject* context, std::function<void(FileOutcome)> done, FileOutcome outcome) {
    QTimer::singleShot(0, context,
                       [done = std::move(done), outcome = std::move(outcome)]() mutable { done(std::move(outcome)); });
}

bool is_within_limit(const QString& path, qint64 max_bytes) {
    const QFileInfo info(path);
    return info.isFile() && info.size() <= max_bytes;
}

}  // namespace

void start_resolve_package_file(const PackageFileSource& source, const PackageFileKind& kind,
                                const DownloadSettings& settings, QObject* context,
                                std::function<void(FileOutcome)> done) {
    // "..", "." or a trailing separator give no name, so nothing below can
    // read, replace or delete the cache folder's parent or the folder itself.
    const QString file_name = manifest_file_name(source.manifest_file_name);
    if (file_name.isEmpty()) {
        finish_later(context, std::move(done), {false, {}, QString::fromLatin1(kind.no_name_message)});
        return;
    }

    // The manifest's own cache file is never a package's: checking it as one
    // would delete it.
    if (file_name.compare(QFileInfo(manifest_cache_path()).fileName(), Qt::CaseInsensitive) == 0) {
        finish_later(context, std::move(done),
                     {false, {}, QStringLiteral("Package file name %1 is the manifest's own name").arg(file_name)});
        return;
    }
    if (!is_well_formed_sha256(source.sha256)) {
        finish_later(context, std::move(done),
                     {false,
                      {},
                      QStringLiteral("Manifest entry %1 has no valid sha256 (64 hexadecimal digits)").arg(file_name)});
        return;
    }

    const QString cached_path = QDir(downloads_cache_dir()).filePath(file_name);
    if (QFileInfo::exists(cached_path)) {
        if (is_within_limit(cached_path, kind.max_bytes) &&
            verify_file_sha256(cached_path, source.sha256, nullptr, QString::fromLatin1(kind.what))) {
            finish_later(context, std::move(done), {true, cached_path, {}});
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
        QString error = QStringLiteral("%1 is larger than the limit of %2 bytes").arg(local_path).arg(kind.max_bytes);
        if (is_within_limit(local_path, kind.max_bytes) &&
            verify_file_sha256(local_path, source.sha256, &error, QString::fromLatin1(kind.what))) {
            finish_later(context, std::move(done), {true, local_path, {}});
        } else {
            finish_later(context, std::move(done), {false, {}, error});
        }
        return;
    }
    finish_later(context, std::move(done), {false, {}, QString::fromLatin1(kind.not_available_message)});
}

bool resolve_package_file(const PackageFileSource& source, const PackageFileKind& kind,
                          const DownloadSettings& settings, QString* local_path_out, QString* error) {
    if (!local_path_out) {
        set_error(error, QStringLiteral("local_path_out is null"));
        return false;
    }
    const FileOutcome outcome = wait_for_outcome<FileOutcome>([&](QObject* context, auto done) {
        start_resolve_package_file(source, kind, settings, context, std::move(done));
    });
    if (!outcome.ok) {
        set_error(error, outcome.error);
        return false;
    }
    *local_path_out = outcome.path;
    return true;
}

}  // namespace vk61::detail
