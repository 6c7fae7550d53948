#include "wire_server.h"

#include "report_codec.h"
#include "wire_packet.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace sim {

namespace {
constexpr int kPollLimitMs = 500;  // the loop also re-checks stopping_ this often

bool peer_closed(int fd) {
    pollfd p{fd, POLLRDHUP, 0};
    return ::poll(&p, 1, 0) == 1 && (p.revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0;
}
}  // namespace

WireServer::WireServer(Installation& bus) : bus_(bus) {}

WireServer::~WireServer() { stop(); }

void WireServer::set_connection_observer(std::function<void(bool)> observer) { observer_ = std::move(observer); }

bool WireServer::start(std::uint16_t port) {
    {
        std::lock_guard lock(mutex_);
        if (running_) return false;
        port_ = port;
        if (!open_listener()) return false;
        wake_fd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        if (wake_fd_ < 0) {
            ::close(listen_fd_);
            listen_fd_ = -1;
            return false;
        }
        running_ = true;
        plugged_ = true;
    }
    stopping_ = false;
    HostSide side;
    side.frame = [this](const vk61::BusFrame& frame) { send_report(input_report_from_frame(frame)); };
    side.raw_report = [this](const std::vector<std::uint8_t>& report) { send_report(report); };
    side.pull_cable = [this] { pull_cable(); };
    side.plug_cable = [this] { plug_cable(); };
    token_ = bus_.attach_host(std::move(side));
    thread_ = std::thread([this] { run(); });
    return true;
}

void WireServer::stop() {
    // Detach first: once this returns, the installation no longer calls us.
    bus_.detach_host(token_);
    stopping_ = true;
    wake();
    if (thread_.joinable()) thread_.join();
    std::lock_guard lock(mutex_);
    for (int fd : {listen_fd_, client_fd_, wake_fd_}) {
        if (fd >= 0) ::close(fd);
    }
    for (int fd : retired_) ::close(fd);
    retired_.clear();
    listen_fd_ = client_fd_ = wake_fd_ = -1;
    running_ = false;
}

std::uint16_t WireServer::port() const {
    std::lock_guard lock(mutex_);
    return port_;
}

bool WireServer::host_connected() const {
    std::lock_guard lock(mutex_);
    return client_fd_ >= 0;
}

bool WireServer::cable_plugged() const {
    std::lock_guard lock(mutex_);
    return plugged_;
}

// Keeps the port of the first bind, so a replug listens where the host looks.
bool WireServer::open_listener() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    const int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    sa.sin_port = htons(port_);
    socklen_t len = sizeof sa;
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0 || ::listen(fd, 4) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len) != 0) {
        ::close(fd);
        return false;
    }
    port_ = ntohs(sa.sin_port);
    listen_fd_ = fd;
    return true;
}

void WireServer::drop_client() {
    if (client_fd_ < 0) return;
    ::shutdown(client_fd_, SHUT_RDWR);  // the host sees the close at once
    retired_.push_back(client_fd_);
    client_fd_ = -1;
}

void WireServer::wake() {
    if (wake_fd_ < 0) return;
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto n = ::write(wake_fd_, &one, sizeof one);
}

void WireServer::pull_cable() {
    {
        std::lock_guard lock(mutex_);
        plugged_ = false;
        // Listener first: by the time the host sees its connection close, a
        // reconnect is already refused (a shut-down listening socket refuses
        // connects), rather than landing in a backlog about to be reset.
        if (listen_fd_ >= 0) {
            ::shutdown(listen_fd_, SHUT_RDWR);
            retired_.push_back(listen_fd_);
            listen_fd_ = -1;
        }
        drop_client();
        wake();
    }
}

void WireServer::plug_cable() {
    std::lock_guard lock(mutex_);
    if (plugged_) return;
    plugged_ = true;
    // Listen again before returning, so the host's next open can succeed.
    if (running_ && listen_fd_ < 0) open_listener();
    wake();
}

void WireServer::send_report(const std::vector<std::uint8_t>& report) {
    // The wire carries 1 to 128 bytes per report; anything else cannot travel.
    if (report.empty() || report.size() > vhid::kMaxReportPacket) return;
    std::vector<std::uint8_t> packet;
    vhid::append_packet(packet, report.data(), report.size());
    std::lock_guard lock(mutex_);
    if (client_fd_ < 0) return;
    std::size_t sent = 0;
    while (sent < packet.size()) {
        // Bounded by SO_SNDTIMEO on the client socket.
        const ssize_t n = ::send(client_fd_, packet.data() + sent, packet.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            drop_client();
            wake();
            return;
        }
        sent += static_cast<std::size_t>(n);
    }
}

// Runs with no lock held: the installation may answer, pull the cable or
// call send_report() from inside receive_from_host().
void WireServer::handle_packets() {
    const int client = [this] {
        std::lock_guard lock(mutex_);
        return client_fd_;
    }();
    for (;;) {
        std::size_t n = 0;
        const auto status = vhid::front_packet(rx_, vhid::kMaxHostPacket, n);
        if (status == vhid::PacketStatus::NeedMore) return;
        if (status == vhid::PacketStatus::Malformed) {
            std::lock_guard lock(mutex_);
            if (client_fd_ == client) drop_client();
            rx_.clear();
            return;
        }
        const auto frame = frame_from_output_report(rx_.data() + 2, n);
        rx_.erase(rx_.begin(), rx_.begin() + static_cast<std::ptrdiff_t>(2 + n));
        if (frame) bus_.receive_from_host(*frame);
        std::lock_guard lock(mutex_);
        if (client_fd_ != client) {  // the cable went while this frame was handled
            rx_.clear();
            return;
        }
    }
}

// Waits in poll() for the wake eventfd, a connect or host data, at most
// kPollLimitMs at a time.
void WireServer::run() {
    bool connected = false;
    while (!stopping_) {
        std::vector<pollfd> fds;
        int listen_fd = -1;
        int client_fd = -1;
        bool lost = false;
        {
            std::lock_guard lock(mutex_);
            for (int fd : retired_) ::close(fd);
            retired_.clear();
            listen_fd = listen_fd_;
            client_fd = client_fd_;
            lost = connected && client_fd < 0;
        }
        if (lost) {
            connected = false;
            rx_.clear();
            if (observer_) observer_(false);
        }
        // The client before the listener: a host that closed and reconnects at
        // once is seen leaving before it is seen coming back.
        fds.push_back({wake_fd_, POLLIN, 0});
        if (client_fd >= 0) fds.push_back({client_fd, POLLIN, 0});
        if (listen_fd >= 0) fds.push_back({listen_fd, POLLIN, 0});
        if (::poll(fds.data(), fds.size(), kPollLimitMs) <= 0) continue;

        for (const auto& p : fds) {
            if (p.revents == 0) continue;
            if (p.fd == wake_fd_) {
                std::uint64_t count = 0;
                [[maybe_unused]] const auto n = ::read(wake_fd_, &count, sizeof count);
            } else if (p.fd == listen_fd) {
                const int fd = ::accept4(listen_fd, nullptr, nullptr, SOCK_CLOEXEC);
                if (fd < 0) continue;
                bool taken = false;
                {
                    std::lock_guard lock(mutex_);
                    // A host that closed its end is gone even if its close
                    // has not been read yet.
                    if (client_fd_ >= 0 && peer_closed(client_fd_)) drop_client();
                    // One host at a time; none while the cable is out.
                    if (client_fd_ < 0 && plugged_ && !stopping_) {
                        const int one = 1;
                        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
                        const timeval send_limit{1, 0};
                        ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &send_limit, sizeof send_limit);
                        client_fd_ = fd;
                        taken = true;
                    }
                }
                if (!taken) {
                    ::close(fd);
                    continue;
                }
                if (connected && observer_) observer_(false);  // the old one went unseen
                connected = true;
                rx_.clear();
                if (observer_) observer_(true);
            } else if (p.fd == client_fd) {
                std::uint8_t buf[4096];
                const ssize_t got = ::recv(client_fd, buf, sizeof buf, MSG_DONTWAIT);
                if (got < 0 && (errno == EAGAIN || errno == EINTR)) continue;
                if (got <= 0) {
                    std::lock_guard lock(mutex_);
                    if (client_fd_ == client_fd) drop_client();
                    continue;  // reported as lost at the top of the loop
                }
                rx_.insert(rx_.end(), buf, buf + got);
                handle_packets();
            }
        }
    }
}

}  // namespace sim
