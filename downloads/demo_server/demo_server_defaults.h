// Where the demo build finds its download server. The demo executable passes
// demo_manifest_url() to set_manifest_url_override_for_testing() in its main.
#pragma once

#include <QUrl>

namespace vk61 {

inline constexpr quint16 kDemoDownloadServerPort = 47080;

inline QUrl demo_manifest_url(quint16 port = kDemoDownloadServerPort) {
    return QUrl(QStringLiteral("http://127.0.0.1:%1/firmware/downloads_manifest.json").arg(port));
}

}  // namespace vk61
