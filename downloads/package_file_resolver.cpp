#include "downloads/package_file_resolver.h"

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
    QTimer::singleShot(0, context, [done = std::move(done), outcome = std::move(outcome)]() mutable {
        done(std::move(outcome));
    });
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

    const QString cached_path = QDir(downloads_cache_dir()).filePath(file_name);
    if (QFileInfo::exists(cached_path)) {
        if (verify_file_sha256(cached_path, source.sha256, nullptr)) {
            finish_later(context, std::move(done), {true, cached_path, {}});
            return;
        }
        // Stale (the manifest moved on) or damaged: fetch it again below.
        QFile::remove(cached_path);
    }

    if (!source.download_url.isEmpty()) {
        const QString sha256 = source.sha256;
        start_download_to_file(QUrl(source.download_url, QUrl::TolerantMode), settings.fetch_timeout_ms,
                               cached_path, context, [sha256, done = std::move(done)](FileOutcome stored) {
                                   // A failed download never falls back to the local folder.
                                   if (stored.ok && !verify_file_sha256(stored.path, sha256, &stored.error)) {
                                       QFile::remove(stored.path);
                                       stored = {false, {}, stored.error};
                                   }
                                   done(std::move(stored));
                               });
        return;
    }

    // Files provided beside the application are trusted as they are.
    const QString local_path = QDir(local_firmware_dir(settings)).filePath(file_name);
    if (QFileInfo::exists(local_path)) {
        finish_later(context, std::move(done), {true, local_path, {}});
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
