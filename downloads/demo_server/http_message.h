// The requests and responses the loopback HTTP server deals in.
#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>

namespace vk61 {

using HttpHeaders = QList<QPair<QByteArray, QByteArray>>;

struct HttpRequest {
    QByteArray method;  // "GET"
    QByteArray path;    // as sent, percent-encoding included: "/firmware/app.bin"
    HttpHeaders headers;

    // The value of the first header with this name (case-insensitive), or empty.
    QByteArray header(const QByteArray& name) const;
};

struct HttpResponse {
    int status = 200;
    HttpHeaders headers;  // besides Content-Length and Connection, which are always sent
    QByteArray body;

    // Ways to misbehave, for exercising a client's failure paths.
    bool never_answer = false;      // keep the connection open and send nothing
    int trickle_interval_ms = 0;    // > 0: send the body one byte per interval
    qint64 close_after_bytes = -1;  // >= 0: announce the full body, send this many bytes, close
    qint64 announced_length = -1;   // >= 0: the Content-Length sent, whatever the body's size
    bool omit_length = false;       // send no Content-Length (the body ends when the connection does)
    qint64 repeat_body_bytes = -1;  // >= 0: send the body over and over, this many bytes in all,
                                    // made as the client takes them (never held whole)

    static HttpResponse not_found();
    static HttpResponse redirect(const QByteArray& location, int status = 302);
};

}  // namespace vk61
