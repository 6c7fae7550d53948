#include "wire_client.h"

#include "wire_packet.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace vhid {

namespace {
constexpr short kGone = POLLRDHUP | POLLHUP | POLLERR | POLLNVAL;
}

WireClient::~WireClient() {
    if (fd_ >= 0) ::close(fd_);
}

bool WireClient::connect(const WireAddress& address, std::chrono::milliseconds timeout) {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd_ < 0) return false;
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(address.port);
    if (inet_pton(AF_INET, address.host.c_str(), &sa.sin_addr) != 1) return false;
    if (::connect(fd_, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0) {
        if (errno != EINPROGRESS) return false;
        pollfd p{fd_, POLLOUT, 0};
        if (::poll(&p, 1, static_cast<int>(timeout.count())) != 1) return false;
        int err = 0;
        socklen_t err_len = sizeof err;
        if (::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &err, &err_len) != 0 || err != 0) return false;
    }
    // Blocking from here on: reads wait in poll(), writes are bounded by SO_SNDTIMEO.
    ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) & ~O_NONBLOCK);
    const int one = 1;
    ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    const timeval send_limit{1, 0};
    ::setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &send_limit, sizeof send_limit);
    return true;
}

int WireClient::fail() {
    broken_ = true;
    return -1;
}

bool WireClient::peer_gone() {
    pollfd p{fd_, POLLRDHUP, 0};
    return ::poll(&p, 1, 0) == 1 && (p.revents & kGone) != 0;
}

int WireClient::write_packet(const std::uint8_t* data, std::size_t len) {
    std::lock_guard lock(write_mutex_);
    if (broken_ || fd_ < 0 || len > 0xFFFF) return -1;
    // Like a pulled cable, a closed connection fails the very next write, not
    // only the one after the peer's reset arrives.
    if (peer_gone()) return fail();
    std::vector<std::uint8_t> packet;
    packet.reserve(len + 2);
    append_packet(packet, data, len);
    std::size_t sent = 0;
    while (sent < packet.size()) {
        const ssize_t n = ::send(fd_, packet.data() + sent, packet.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return fail();  // includes the SO_SNDTIMEO expiry
        sent += static_cast<std::size_t>(n);
    }
    return static_cast<int>(len);
}

int WireClient::read_report(std::uint8_t* buf, std::size_t len, int timeout_ms) {
    if (broken_ || fd_ < 0) return -1;
    if (peer_gone()) return fail();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(timeout_ms, 0));
    for (;;) {
        std::size_t n = 0;
        switch (front_packet(rx_, kMaxReportPacket, n)) {
        case PacketStatus::Malformed: return fail();
        case PacketStatus::Complete: {
            const std::size_t copied = std::min(n, len);
            std::memcpy(buf, rx_.data() + 2, copied);
            rx_.erase(rx_.begin(), rx_.begin() + static_cast<std::ptrdiff_t>(2 + n));
            return static_cast<int>(copied);
        }
        case PacketStatus::NeedMore: break;
        }
        int wait_ms = -1;
        if (timeout_ms >= 0) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            wait_ms = static_cast<int>(std::max<std::chrono::milliseconds::rep>(left.count(), 0));
        }
        pollfd p{fd_, POLLIN | POLLRDHUP, 0};
        const int r = ::poll(&p, 1, wait_ms);
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) return fail();
        if (r == 0) return 0;
        if (broken_) return -1;
        std::uint8_t chunk[512];
        const ssize_t got = ::recv(fd_, chunk, sizeof chunk, MSG_DONTWAIT);
        if (got < 0 && (errno == EAGAIN || errno == EINTR)) continue;
        if (got <= 0) return fail();
        rx_.insert(rx_.end(), chunk, chunk + got);
        // Data that arrived together with the close still means the cable is out.
        if ((p.revents & kGone) != 0) return fail();
    }
}

void WireClient::shutdown() {
    broken_ = true;
    if (fd_ >= 0) ::shutdown(fd_, SHUT_RDWR);
}

}  // namespace vhid
