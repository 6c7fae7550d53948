#include "http_message.h"

namespace vk61 {

QByteArray HttpRequest::header(const QByteArray& name) const {
    for (const auto& [key, value] : headers) {
        if (key.compare(name, Qt::CaseInsensitive) == 0) return value;
    }
    return {};
}

HttpResponse HttpResponse::not_found() {
    HttpResponse response;
    response.status = 404;
    response.body = "not found\n";
    return response;
}

HttpResponse HttpResponse::redirect(const QByteArray& location, int status) {
    HttpResponse response;
    response.status = status;
    response.headers.emplaceBack("Location", location);
    response.body = "moved\n";
    return response;
}

}  // namespace vk61
