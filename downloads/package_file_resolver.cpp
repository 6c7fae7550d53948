#include "downloads/package_file_resolver.h"

#include "downloads/download_locations.h"
#include "downloads/error_text.h"
#include "downloads/file_digest.h"
#include "downloads/http_fetch.h"
#include "downloads/manifest_file_name.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUrl>

namespace vk61::detail {

bool resolve_package_file(const PackageFileSource& source, const PackageFileKind& kind,
                          QString* local_path_out, QString* error) {
    if (!local_path_out) {
        set_error(error, QStringLiteral("local_path_out is null"));
        return false;
    }
    // "..", "." or a trailing separator give no name, so nothing below can
    // read, replace or delete the cache folder's parent or the folder itself.
    const QString file_name = manifest_file_name(source.manifest_file_name);
    if (file_name.isEmpty()) {
        set_error(error, QString::fromLatin1(kind.no_name_message));
        return false;
    }

    const QString cached_path = QDir(downloads_cache_dir()).filePath(file_name);
    if (QFileInfo::exists(cached_path)) {
        if (verify_file_sha256(cached_path, source.sha256, nullptr)) {
            *local_path_out = cached_path;
            return true;
        }
        // Stale (the manifest moved on) or damaged: fetch it again below.
        QFile::remove(cached_path);
    }

    if (!source.download_url.isEmpty()) {
        if (!download_to_file(QUrl(source.download_url, QUrl::TolerantMode), cached_path, error))
            return false;  // never falls back to the local folder
        if (!verify_file_sha256(cached_path, source.sha256, error)) {
            QFile::remove(cached_path);
            return false;
        }
        *local_path_out = cached_path;
        return true;
    }

    // Files provided beside the application are trusted as they are.
    const QString local_path = QDir(local_firmware_dir()).filePath(file_name);
    if (QFileInfo::exists(local_path)) {
        *local_path_out = local_path;
        return true;
    }
    set_error(error, QString::fromLatin1(kind.not_available_message));
    return false;
}

}  // namespace vk61::detail
