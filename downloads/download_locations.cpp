#include "downloads/download_locations.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace vk61 {

QString downloads_cache_dir() {
    const QString dir = QStandardPaths::writableLocation(QStandardPaths::CacheLocation) + QStringLiteral("/firmware");
    QDir().mkpath(dir);  // a failure shows up as the next file operation's own message
    return dir;
}

QString manifest_cache_path() {
    return QDir(downloads_cache_dir()).filePath(QStringLiteral("downloads_manifest.json"));
}

QStringList local_manifest_candidates(const DownloadSettings& settings) {
    const QString app_dir = settings.effective_application_dir();
    return {
        app_dir + QStringLiteral("/firmware/downloads_manifest.json"),
        app_dir + QStringLiteral("/../firmware/downloads_manifest.json"),
    };
}

QString find_local_manifest(const DownloadSettings& settings) {
    for (const QString& candidate : local_manifest_candidates(settings)) {
        if (QFileInfo(candidate).isFile()) return candidate;
    }
    return {};
}

QString local_firmware_dir(const DownloadSettings& settings) {
    const QString manifest = find_local_manifest(settings);
    if (manifest.isEmpty()) return settings.effective_application_dir() + QStringLiteral("/firmware");
    return QFileInfo(manifest).absolutePath();
}

}  // namespace vk61
