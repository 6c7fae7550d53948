#include "downloads/download_locations.h"

#include "downloads/runtime_settings.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#ifndef VK61_MANIFEST_HOST
#error "VK61_MANIFEST_HOST must be defined by the build (CMake cache variable of the same name)"
#endif

namespace vk61 {

QString downloads_cache_dir() {
    const QString dir =
        QStandardPaths::writableLocation(QStandardPaths::CacheLocation) + QStringLiteral("/firmware");
    QDir().mkpath(dir);  // a failure shows up as the next file operation's own message
    return dir;
}

QString manifest_cache_path() {
    return QDir(downloads_cache_dir()).filePath(QStringLiteral("downloads_manifest.json"));
}

QStringList local_manifest_candidates() {
    const QString app_dir = detail::effective_application_dir();
    return {
        app_dir + QStringLiteral("/firmware/downloads_manifest.json"),
        app_dir + QStringLiteral("/../firmware/downloads_manifest.json"),
        QDir::currentPath() + QStringLiteral("/firmware/downloads_manifest.json"),
    };
}

QString find_local_manifest() {
    for (const QString& candidate : local_manifest_candidates()) {
        if (QFileInfo::exists(candidate))
            return candidate;
    }
    return {};
}

QString local_firmware_dir() {
    const QString manifest = find_local_manifest();
    if (manifest.isEmpty())
        return detail::effective_application_dir() + QStringLiteral("/firmware");
    return QFileInfo(manifest).absolutePath();
}

QUrl default_manifest_url() {
    return QUrl(QStringLiteral("https://") + QStringLiteral(VK61_MANIFEST_HOST) +
                    QStringLiteral("/firmware/downloads_manifest.json"),
                QUrl::TolerantMode);
}

}  // namespace vk61
