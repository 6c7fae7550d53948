// In-process control of virtual_hidapi, the library that stands in for the
// system hidapi in test binaries and in the demo build.
//
// virtual_hidapi exports the hidapi C functions (hid_init, hid_exit,
// hid_enumerate, hid_free_enumeration, hid_open_path, hid_write,
// hid_read_timeout, hid_close). By default it reaches a bridge over the
// virtual-bridge wire (TCP on loopback, VK61_BRIDGE=host:port). A test can
// instead attach an in-process bridge and shape what enumeration shows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace vhid {

// Delivers one input report (report id, link byte, identifier, DLC code, data;
// 1 to 128 bytes) to the open host device. Safe to call from any thread.
using ReportSink = std::function<void(const std::uint8_t* report, std::size_t len)>;

// A bridge living in the same process (sim::Bridge implements it).
class InProcessBridge {
public:
    virtual ~InProcessBridge() = default;
    // The host opened the bridge's interface. Reports for the host go to
    // to_host until host_close(). Returning false refuses the open.
    virtual bool host_open(ReportSink to_host) = 0;
    // Exactly the bytes the host passed to hid_write.
    virtual void host_write(const std::uint8_t* data, std::size_t len) = 0;
    // The host closed the device, or the cable was pulled.
    virtual void host_close() = 0;
};

// One entry of what hid_enumerate lists.
struct Interface {
    std::uint16_t vendor_id = 0x16D0;
    std::uint16_t product_id = 0x14C7;
    std::uint16_t usage_page = 0xFF00;
    std::string path;         // hid_open_path argument
    bool is_bridge = false;   // opening it connects to the bridge
    bool open_fails = false;  // hid_open_path on it returns null
};

// Attaches an in-process bridge (nullptr returns to the wire). Resets the
// interface list to the single bridge interface and plugs the cable in.
void attach_bridge(InProcessBridge* bridge);

// Replaces what enumeration lists, in order. Entries with is_bridge reach the
// attached bridge (or the wire).
void set_interfaces(std::vector<Interface> interfaces);

// Paths that hid_open_path was called with, in order, since the last reset.
std::vector<std::string> open_attempts();
void reset_open_attempts();

// Pulls the cable: the open device fails its next read and write, and opening
// fails, until plug_cable().
void pull_cable();
void plug_cable();
bool cable_plugged();

}  // namespace vhid
