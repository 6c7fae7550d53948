#include "loopback_http_server.h"

#include "http_exchange.h"

#include <QHostAddress>
#include <QSslConfiguration>
#include <QSslServer>
#include <QSslSocket>
#include <QTcpServer>
#include <QTcpSocket>

namespace vk61 {

LoopbackHttpServer::LoopbackHttpServer(Handler handler, QObject* parent)
    : QObject(parent), handler_(std::move(handler)) {}

LoopbackHttpServer::~LoopbackHttpServer() = default;

bool LoopbackHttpServer::listen(quint16 port) {
    tls_ = false;
    return start(new QTcpServer(this), port);
}

bool LoopbackHttpServer::listen_tls(const QSslConfiguration& configuration, quint16 port) {
    if (!QSslSocket::supportsSsl()) return false;
    auto* server = new QSslServer(this);
    server->setSslConfiguration(configuration);
    tls_ = true;
    return start(server, port);
}

bool LoopbackHttpServer::start(QTcpServer* server, quint16 port) {
    close();
    server_ = server;
    // Emitted for plain sockets on accept and for TLS sockets once encrypted.
    connect(server_, &QTcpServer::pendingConnectionAvailable, this, &LoopbackHttpServer::accept_pending);
    return server_->listen(QHostAddress::LocalHost, port);
}

void LoopbackHttpServer::close() {
    if (!server_) return;
    server_->close();
    delete server_;  // its exchanges (children of this) stay until their peers leave
    server_ = nullptr;
}

quint16 LoopbackHttpServer::port() const { return server_ ? server_->serverPort() : 0; }

QUrl LoopbackHttpServer::url(const QString& path) const {
    QUrl url;
    url.setScheme(tls_ ? QStringLiteral("https") : QStringLiteral("http"));
    url.setHost(QStringLiteral("127.0.0.1"));
    url.setPort(port());
    url.setPath(path);
    return url;
}

QString LoopbackHttpServer::error_string() const {
    return server_ ? server_->errorString() : QStringLiteral("not listening");
}

void LoopbackHttpServer::accept_pending() {
    while (server_ && server_->hasPendingConnections()) {
        QTcpSocket* socket = server_->nextPendingConnection();
        auto record_and_answer = [this](const HttpRequest& request) {
            requests_.append(request);
            return handler_(request);
        };
        new HttpExchange(socket, record_and_answer, this);
    }
}

}  // namespace vk61
