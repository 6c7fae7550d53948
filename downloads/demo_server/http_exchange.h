// One client connection of the loopback HTTP server: reads one request,
// writes one response, closes (HTTP/1.1 with "Connection: close").
#pragma once

#include "http_message.h"

#include <QObject>
#include <QTimer>

#include <functional>

class QTcpSocket;

namespace vk61 {

class HttpExchange : public QObject {
    Q_OBJECT
public:
    using Handler = std::function<HttpResponse(const HttpRequest&)>;

    // Takes ownership of the socket; deletes itself once the peer has gone.
    HttpExchange(QTcpSocket* socket, Handler handler, QObject* parent);

private:
    void read_request();
    void answer(const HttpRequest& request);
    void send_next_trickle_byte();
    void send_next_repeat_piece();

    QTcpSocket* socket_;
    Handler handler_;
    QByteArray received_;
    bool answered_ = false;
    QByteArray trickle_body_;
    qsizetype trickle_sent_ = 0;
    QTimer trickle_timer_;
    QByteArray repeat_pattern_;
    qint64 repeat_left_ = 0;
};

}  // namespace vk61
