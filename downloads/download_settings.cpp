#include "downloads/download_settings.h"

#include <QCoreApplication>

#ifndef VK61_MANIFEST_HOST
#error "VK61_MANIFEST_HOST must be defined by the build (CMake cache variable of the same name)"
#endif

namespace vk61 {

QUrl default_manifest_url() {
    return QUrl(QStringLiteral("https://") + QStringLiteral(VK61_MANIFEST_HOST) +
                    QStringLiteral("/firmware/downloads_manifest.json"),
                QUrl::TolerantMode);
}

QString DownloadSettings::effective_application_dir() const {
    return application_dir.isEmpty() ? QCoreApplication::applicationDirPath() : application_dir;
}

}  // namespace vk61
