// The bridge end of the virtual-bridge wire: listens on 127.0.0.1, takes one
// host connection at a time and joins it to an Installation. Each packet from
// the host is one output report; each frame for the host goes out as one
// input report packet.
//
// The connection closing is the cable being pulled. pull_cable() closes it and
// stops listening (connects are refused) until plug_cable(). A PullCable fault
// does the same. The Installation must outlive the server.
//
// Lock order: the installation's host-side lock may be held when this class's
// mutex is taken (frames for the host, cable faults); this class never calls
// the installation with its mutex held.
#pragma once

#include "installation.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace sim {

class WireServer {
public:
    explicit WireServer(Installation& bus);
    ~WireServer();  // stop()
    WireServer(const WireServer&) = delete;
    WireServer& operator=(const WireServer&) = delete;

    // Binds 127.0.0.1:port (0: an ephemeral port, see port()) and starts the
    // server thread. False if the port cannot be bound or it already runs.
    bool start(std::uint16_t port = 0);
    // Closes everything and joins the thread. Idempotent.
    void stop();

    std::uint16_t port() const;
    bool host_connected() const;

    void pull_cable();
    void plug_cable();
    bool cable_plugged() const;

    // Called on the server thread with true when a host connects and false when
    // it goes (closed by either side). Set before start().
    void set_connection_observer(std::function<void(bool connected)> observer);

private:
    void run();
    bool open_listener();  // mutex_ held
    void drop_client();    // mutex_ held
    void wake();
    void send_report(const std::vector<std::uint8_t>& report);
    void handle_packets();  // server thread: rx_ to frames for the bus

    Installation& bus_;
    std::uint64_t token_ = 0;
    std::function<void(bool)> observer_;  // set before start(), then read-only

    mutable std::mutex mutex_;
    // Guarded by mutex_. Only the server thread closes descriptors: the others
    // shut a socket down and leave it in retired_ for the thread to close.
    int listen_fd_ = -1;
    int client_fd_ = -1;
    std::vector<int> retired_;
    bool plugged_ = true;
    std::uint16_t port_ = 0;
    bool running_ = false;

    int wake_fd_ = -1;  // eventfd; written by any thread, read by the server thread
    std::atomic<bool> stopping_{false};
    std::vector<std::uint8_t> rx_;  // server thread only: partial host packets
    std::thread thread_;
};

}  // namespace sim
