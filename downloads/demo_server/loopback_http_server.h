// A small HTTP/1.1 server on 127.0.0.1, plain or over TLS, that answers each
// request through a handler. It runs on the thread that owns it, inside that
// thread's event loop (a client's nested loop on the same thread serves it too).
// Used by the demo download server, the downloads tests and the benchmarks.
#pragma once

#include "http_message.h"

#include <QList>
#include <QObject>
#include <QUrl>

#include <functional>

class QSslConfiguration;
class QTcpServer;

namespace vk61 {

class LoopbackHttpServer : public QObject {
    Q_OBJECT
public:
    using Handler = std::function<HttpResponse(const HttpRequest&)>;

    explicit LoopbackHttpServer(Handler handler, QObject* parent = nullptr);
    ~LoopbackHttpServer() override;

    // Listens on 127.0.0.1; port 0 picks a free one. Only loopback is ever bound.
    bool listen(quint16 port = 0);
    // The same over TLS with the given certificate and key. Needs a TLS backend
    // (QSslSocket::supportsSsl()).
    bool listen_tls(const QSslConfiguration& configuration, quint16 port = 0);
    void close();

    quint16 port() const;
    // "http://127.0.0.1:PORT/path" (https when listening with TLS).
    QUrl url(const QString& path) const;
    QString error_string() const;

    // Every request received so far, in order.
    const QList<HttpRequest>& requests() const { return requests_; }
    void clear_requests() { requests_.clear(); }

private:
    bool start(QTcpServer* server, quint16 port);
    void accept_pending();

    Handler handler_;
    QTcpServer* server_ = nullptr;  // owned (child)
    bool tls_ = false;
    QList<HttpRequest> requests_;
};

}  // namespace vk61
