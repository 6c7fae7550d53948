// Where the demo build finds its download server. The demo executable puts
// demo_manifest_url() in the settings it constructs its window with.
#pragma once

#include <QUrl>

namespace vk61 {

inline constexpr quint16 kDemoDownloadServerPort = 47080;

inline QUrl demo_manifest_url(quint16 port = kDemoDownloadServerPort) {
    return QUrl(QStringLiteral("http://127.0.0.1:%1/firmware/downloads_manifest.json").arg(port));
}

}  // namespace vk61
