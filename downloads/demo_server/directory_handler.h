// Serves the files below one directory.
#pragma once

#include "loopback_http_server.h"

#include <QString>

namespace vk61 {

// GET /a/b.bin answers with <root>/a/b.bin. Paths that leave the root (".."),
// directories and missing files answer 404. Each file is read whole per request.
LoopbackHttpServer::Handler make_directory_handler(const QString& root);

}  // namespace vk61
