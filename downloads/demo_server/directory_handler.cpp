#include "directory_handler.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUrl>

namespace vk61 {

LoopbackHttpServer::Handler make_directory_handler(const QString& root) {
    const QString canonical_root = QFileInfo(root).canonicalFilePath();
    return [canonical_root](const HttpRequest& request) {
        const QString path = QUrl::fromPercentEncoding(
            request.path.left(request.path.indexOf('?') >= 0 ? request.path.indexOf('?') : request.path.size()));
        // Resolve links and ".." first, then insist the result is still below the root.
        const QString file_path = QFileInfo(canonical_root + QLatin1Char('/') + path).canonicalFilePath();
        if (canonical_root.isEmpty() || file_path.isEmpty() ||
            !file_path.startsWith(canonical_root + QLatin1Char('/')) || !QFileInfo(file_path).isFile())
            return HttpResponse::not_found();
        QFile file(file_path);
        if (!file.open(QIODevice::ReadOnly)) return HttpResponse::not_found();
        HttpResponse response;
        response.headers.emplaceBack("Content-Type", "application/octet-stream");
        response.body = file.readAll();
        return response;
    };
}

}  // namespace vk61
