#include "http_exchange.h"

#include <QTcpSocket>

#include <algorithm>

namespace vk61 {
namespace {

// Requests here are a request line and a few headers; anything longer is not
// a client we serve.
constexpr qsizetype kMaxRequestHeadBytes = 64 * 1024;

QByteArray reason_phrase(int status) {
    switch (status) {
    case 200: return "OK";
    case 301: return "Moved Permanently";
    case 302: return "Found";
    case 307: return "Temporary Redirect";
    case 308: return "Permanent Redirect";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    default: return "Status";
    }
}

bool parse_request_head(const QByteArray& head, HttpRequest* request) {
    const QList<QByteArray> lines = head.split('\n');
    const QList<QByteArray> request_line = lines.value(0).trimmed().split(' ');
    if (request_line.size() != 3 || !request_line[2].startsWith("HTTP/")) return false;
    request->method = request_line[0];
    request->path = request_line[1];
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const qsizetype colon = lines[i].indexOf(':');
        if (colon > 0) request->headers.emplaceBack(lines[i].left(colon).trimmed(), lines[i].mid(colon + 1).trimmed());
    }
    return true;
}

QByteArray response_head(const HttpResponse& response) {
    QByteArray head = "HTTP/1.1 " + QByteArray::number(response.status) + ' ' + reason_phrase(response.status) + "\r\n";
    const qint64 length = response.announced_length >= 0    ? response.announced_length
                          : response.repeat_body_bytes >= 0 ? response.repeat_body_bytes
                                                            : response.body.size();
    if (!response.omit_length) head += "Content-Length: " + QByteArray::number(length) + "\r\n";
    head += "Connection: close\r\n";
    for (const auto& [name, value] : response.headers) head += name + ": " + value + "\r\n";
    head += "\r\n";
    return head;
}

}  // namespace

HttpExchange::HttpExchange(QTcpSocket* socket, Handler handler, QObject* parent)
    : QObject(parent), socket_(socket), handler_(std::move(handler)) {
    socket_->setParent(this);
    connect(socket_, &QTcpSocket::readyRead, this, &HttpExchange::read_request);
    connect(socket_, &QTcpSocket::disconnected, this, &QObject::deleteLater);
    connect(&trickle_timer_, &QTimer::timeout, this, &HttpExchange::send_next_trickle_byte);
    read_request();  // bytes may have arrived with the TLS handshake
}

void HttpExchange::read_request() {
    if (answered_) return;
    received_ += socket_->readAll();
    const qsizetype end = received_.indexOf("\r\n\r\n");
    if (end < 0) {
        if (received_.size() > kMaxRequestHeadBytes) socket_->abort();
        return;
    }
    answered_ = true;
    HttpRequest request;
    if (!parse_request_head(received_.left(end), &request)) {
        socket_->abort();
        return;
    }
    answer(request);
}

void HttpExchange::answer(const HttpRequest& request) {
    HttpResponse response;
    if (request.method != "GET") {
        response.status = 405;
    } else {
        response = handler_(request);
    }
    if (response.never_answer) return;  // the client's own limit ends this

    socket_->write(response_head(response));
    if (response.trickle_interval_ms > 0) {
        trickle_body_ = response.body;
        trickle_timer_.start(response.trickle_interval_ms);
        send_next_trickle_byte();
        return;
    }
    if (response.repeat_body_bytes >= 0 && !response.body.isEmpty()) {
        repeat_pattern_ = response.body;
        while (repeat_pattern_.size() < 64 * 1024) repeat_pattern_ += response.body;
        repeat_left_ = response.repeat_body_bytes;
        connect(socket_, &QTcpSocket::bytesWritten, this, &HttpExchange::send_next_repeat_piece);
        send_next_repeat_piece();
        return;
    }
    if (response.close_after_bytes >= 0) {
        socket_->write(response.body.left(response.close_after_bytes));
        socket_->disconnectFromHost();  // sends what is queued, then closes
        return;
    }
    socket_->write(response.body);
    socket_->disconnectFromHost();
}

// Keeps a few pieces queued and no more: an endless or huge body costs the
// server no memory, and a client that stops reading stops it too.
void HttpExchange::send_next_repeat_piece() {
    while (repeat_left_ > 0 && socket_->bytesToWrite() < 4 * repeat_pattern_.size()) {
        const qint64 n = std::min<qint64>(repeat_left_, repeat_pattern_.size());
        socket_->write(repeat_pattern_.constData(), n);
        repeat_left_ -= n;
    }
    if (repeat_left_ == 0) {
        disconnect(socket_, &QTcpSocket::bytesWritten, this, &HttpExchange::send_next_repeat_piece);
        socket_->disconnectFromHost();  // sends what is queued, then closes
    }
}

void HttpExchange::send_next_trickle_byte() {
    if (trickle_sent_ >= trickle_body_.size()) {
        trickle_timer_.stop();
        socket_->disconnectFromHost();
        return;
    }
    socket_->write(trickle_body_.mid(trickle_sent_, 1));
    ++trickle_sent_;
}

}  // namespace vk61
