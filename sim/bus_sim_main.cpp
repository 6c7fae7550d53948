// vk61-bus-sim: the simulated installation on the virtual-bridge wire, for the
// demo build and end-to-end checks. Stops cleanly on SIGINT or SIGTERM.
#include "command_log.h"
#include "default_installation.h"
#include "installation.h"
#include "wire_server.h"
#include "trace/pcap_trace.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>

namespace {

struct Options {
    unsigned port = 47061;
    unsigned units = 3;
    unsigned reboot_ms = 1500;
    unsigned latency_us = 1000;
    unsigned occupancy_ms = 1000;
    bool real_bridge_pacing = false;
    // Each overrides its part of the preset (or of the default, 0).
    std::optional<unsigned> host_report_ms;
    std::optional<unsigned> device_report_ms;
    std::optional<unsigned> erase_block_ms;
    std::string trace;  // pcap file of every frame on the wire; empty: none
};

sim::BridgeCosts bridge_costs(const Options& o) {
    auto costs = o.real_bridge_pacing ? sim::BridgeCosts::real_bridge() : sim::BridgeCosts{};
    using std::chrono::milliseconds;
    if (o.host_report_ms) costs.host_report = milliseconds(*o.host_report_ms);
    if (o.device_report_ms) costs.device_report = milliseconds(*o.device_report_ms);
    if (o.erase_block_ms) costs.erase_block = milliseconds(*o.erase_block_ms);
    return costs;
}

void usage(std::FILE* out) {
    std::fprintf(
        out,
        "usage: vk61-bus-sim [--port N] [--units N] [--reboot-ms N] [--latency-us N] [--occupancy-ms N]\n"
        "                    [--real-bridge-pacing] [--host-report-ms N] [--device-report-ms N] [--erase-block-ms N]\n"
        "                    [--trace FILE]\n"
        "  --port N          TCP port on 127.0.0.1 (default 47061; 0 = any free port)\n"
        "  --units N         units on UIDs 1..N, 1-15 (default 3)\n"
        "  --reboot-ms N     how long units stay silent after a reboot (default 1500)\n"
        "  --latency-us N    delay of every reply (default 1000)\n"
        "  --occupancy-ms N  occupancy report interval, 0 = none (default 1000)\n"
        "  --real-bridge-pacing  pace like a real full-speed USB bridge and NOR flash:\n"
        "                    the three costs below at 2, 1 and 150 ms\n"
        "  --host-report-ms N    time of one output report, host to bridge, one after another (default 0)\n"
        "  --device-report-ms N  time of one input report per 64 bytes, bridge to host, one after another (default 0)\n"
        "  --erase-block-ms N    time a unit takes to erase one 64 KiB flash block (default 0)\n"
        "  --trace FILE      record every frame from and to the host in FILE, a pcap capture that\n"
        "                    Wireshark opens as CAN FD (the simulator's side: host frames received)\n"
        "The host side (virtual_hidapi) finds the simulator through VK61_BRIDGE=127.0.0.1:PORT.\n");
}

bool parse_number(const char* text, unsigned max, unsigned& out) {
    char* end = nullptr;
    const unsigned long v = std::strtoul(text, &end, 10);
    if (end == text || *end != '\0' || v > max) return false;
    out = static_cast<unsigned>(v);
    return true;
}

bool parse_optional(const char* text, unsigned max, std::optional<unsigned>& out) {
    unsigned v = 0;
    if (!parse_number(text, max, v)) return false;
    out = v;
    return true;
}

bool parse(int argc, char** argv, Options& o) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            usage(stdout);
            std::exit(0);
        }
        if (arg == "--real-bridge-pacing") {
            o.real_bridge_pacing = true;
            continue;
        }
        if (i + 1 >= argc) return false;
        const char* value = argv[++i];
        bool ok = false;
        if (arg == "--port")
            ok = parse_number(value, 65535, o.port);
        else if (arg == "--units")
            ok = parse_number(value, 15, o.units) && o.units >= 1;
        else if (arg == "--reboot-ms")
            ok = parse_number(value, 600000, o.reboot_ms);
        else if (arg == "--latency-us")
            ok = parse_number(value, 10000000, o.latency_us);
        else if (arg == "--occupancy-ms")
            ok = parse_number(value, 600000, o.occupancy_ms);
        else if (arg == "--host-report-ms")
            ok = parse_optional(value, 1000, o.host_report_ms);
        else if (arg == "--device-report-ms")
            ok = parse_optional(value, 1000, o.device_report_ms);
        else if (arg == "--erase-block-ms")
            ok = parse_optional(value, 60000, o.erase_block_ms);
        else if (arg == "--trace") {
            o.trace = value;
            ok = !o.trace.empty();
        }
        if (!ok) return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!parse(argc, argv, options)) {
        usage(stderr);
        return 2;
    }

    // Block the stop signals before any thread starts, so that every thread
    // inherits the mask and only sigwait() below sees them.
    // A shell starts background jobs with SIGINT ignored, and an ignored
    // signal is discarded even while blocked; give both a handler so that
    // sigwait() receives them however the program was started.
    struct sigaction wake_only {};
    wake_only.sa_handler = [](int) {};
    sigaction(SIGINT, &wake_only, nullptr);
    sigaction(SIGTERM, &wake_only, nullptr);
    sigset_t stop_signals;
    sigemptyset(&stop_signals);
    sigaddset(&stop_signals, SIGINT);
    sigaddset(&stop_signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);

    std::unique_ptr<vk61::PcapTrace> trace;
    if (!options.trace.empty()) {
        vk61::TraceOpened opened = vk61::PcapTrace::create(options.trace);
        if (!opened.ok()) {
            std::fprintf(stderr, "vk61-bus-sim: %s\n", describe(opened).c_str());
            return 1;
        }
        trace = std::move(opened.trace);
    }

    sim::CommandLog log(stdout);
    sim::Installation bus;
    sim::add_default_units(bus, options.units);
    bus.set_reboot_duration(std::chrono::milliseconds(options.reboot_ms));
    bus.set_latency(std::chrono::microseconds(options.latency_us));
    const auto costs = bridge_costs(options);
    bus.set_bridge_costs(costs);
    bus.set_frame_observer([&log, &trace](const vk61::BusFrame& frame) {
        log.frame(frame);
        if (trace) trace->record(frame, vk61::FrameDirection::Received, std::chrono::system_clock::now());
    });
    if (trace) {
        bus.set_reply_observer([&trace](const vk61::BusFrame& frame) {
            trace->record(frame, vk61::FrameDirection::Sent, std::chrono::system_clock::now());
        });
    }

    sim::WireServer server(bus);
    server.set_connection_observer(
        [&log](bool connected) { log.line(connected ? "host connected" : "host disconnected"); });
    if (!server.start(static_cast<std::uint16_t>(options.port))) {
        std::fprintf(stderr, "vk61-bus-sim: cannot listen on 127.0.0.1:%u: %s\n", options.port, std::strerror(errno));
        return 1;
    }
    bus.set_occupancy_interval(std::chrono::milliseconds(options.occupancy_ms));
    log.line("vk61-bus-sim: listening on 127.0.0.1:" + std::to_string(server.port()) + " with " +
             std::to_string(options.units) + " unit(s)");
    if (costs.host_report.count() != 0 || costs.device_report.count() != 0 || costs.erase_block.count() != 0) {
        const auto ms = [](std::chrono::microseconds v) { return std::to_string(v.count() / 1000); };
        log.line("vk61-bus-sim: bridge pacing " + ms(costs.host_report) + " ms per host report, " +
                 ms(costs.device_report) + " ms per input report, " + ms(costs.erase_block) + " ms per erased block");
    }

    int signal_number = 0;
    sigwait(&stop_signals, &signal_number);
    log.line(std::string("vk61-bus-sim: stopping (") + (signal_number == SIGINT ? "SIGINT" : "SIGTERM") + ")");
    bus.set_occupancy_interval(std::chrono::milliseconds(0));
    server.stop();
    bus.set_frame_observer(nullptr);
    bus.set_reply_observer(nullptr);
    return 0;
}
