// virtual_hidapi: the hidapi C API towards a simulated bridge.
//
// Backends: the virtual-bridge wire (default; TCP on loopback, see
// wire_client.h) or an in-process bridge attached with vhid::attach_bridge().
// The control API of virtual_hidapi_control.h shapes what enumeration lists
// and plays the cable.
//
// Lock order: the global state lock is never held while a bridge is called
// (host_open, host_write, host_close), because a bridge may deliver reports
// synchronously from inside host_write.
#include "virtual_hidapi_control.h"

#include "report_queue.h"
#include "wire_address.h"
#include "wire_client.h"

#include <hidapi/hidapi.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <utility>

struct hid_device_ {
    enum class Kind { Bridge, Wire, Inert };
    Kind kind = Kind::Inert;
    std::shared_ptr<vhid::ReportQueue> queue;       // Bridge and Inert
    vhid::InProcessBridge* bridge = nullptr;        // Bridge
    std::shared_ptr<std::atomic<bool>> close_owed;  // Bridge: host_close() still due
    std::unique_ptr<vhid::WireClient> wire;         // Wire
    std::atomic<bool> nonblocking{false};
    std::atomic<const wchar_t*> error{L"Success"};
};

namespace {

constexpr const char* kInProcessPath = "vk61-sim:bridge";
constexpr auto kConnectTimeout = std::chrono::milliseconds(200);

struct State {
    std::mutex mutex;
    // All guarded by mutex:
    vhid::InProcessBridge* bridge = nullptr;
    std::optional<std::vector<vhid::Interface>> interfaces;  // nullopt: the one bridge interface
    std::vector<std::string> attempts;
    bool plugged = true;
    std::set<hid_device*> open;
};

// Never destroyed: hidapi calls may come from threads that outlive main's statics.
State& state() {
    static State* s = new State;
    return *s;
}

std::atomic<const wchar_t*> g_error{L"Success"};

void warn_bad_address_once(const std::string& why) {
    static std::atomic<bool> warned{false};
    if (!warned.exchange(true)) {
        std::fprintf(stderr, "virtual_hidapi: VK61_BRIDGE refused: %s\n", why.c_str());
    }
}

std::optional<vhid::WireAddress> wire_address() {
    std::string why;
    auto address = vhid::wire_address_from_env(&why);
    if (!address) warn_bad_address_once(why);
    return address;
}

// Called with the state lock held.
std::vector<vhid::Interface> current_interfaces(const State& s) {
    if (s.interfaces) return *s.interfaces;
    vhid::Interface bridge;
    bridge.is_bridge = true;
    if (s.bridge != nullptr) {
        bridge.path = kInProcessPath;
    } else {
        const auto address = wire_address();
        if (!address) return {};
        bridge.path = "vk61-wire:" + address->host + ":" + std::to_string(address->port);
    }
    return {bridge};
}

wchar_t* wide_copy(const wchar_t* text) {
    const std::size_t n = std::wcslen(text) + 1;
    auto* copy = static_cast<wchar_t*>(std::malloc(n * sizeof(wchar_t)));
    if (copy != nullptr) std::wmemcpy(copy, text, n);
    return copy;
}

int copy_string(wchar_t* out, std::size_t maxlen, const wchar_t* text) {
    if (out == nullptr || maxlen == 0) return -1;
    std::wcsncpy(out, text, maxlen);
    out[maxlen - 1] = L'\0';
    return 0;
}

// Marks every open device dead and hands back the host_close() calls owed to
// a bridge; the caller makes them after releasing the lock.
using OwedClose = std::pair<vhid::InProcessBridge*, std::shared_ptr<std::atomic<bool>>>;
std::vector<OwedClose> kill_open_devices(State& s) {
    std::vector<OwedClose> owed;
    for (hid_device* dev : s.open) {
        if (dev->queue) dev->queue->kill();
        if (dev->wire) dev->wire->shutdown();
        if (dev->kind == hid_device_::Kind::Bridge) owed.emplace_back(dev->bridge, dev->close_owed);
    }
    return owed;
}

void pay_closes(const std::vector<OwedClose>& owed) {
    for (const auto& [bridge, flag] : owed) {
        if (flag->exchange(false)) bridge->host_close();
    }
}

hid_device* open_failed(const wchar_t* why) {
    g_error = why;
    return nullptr;
}

}  // namespace

// ---------------------------------------------------------------- control API

namespace vhid {

void attach_bridge(InProcessBridge* bridge) {
    std::vector<OwedClose> owed;
    {
        State& s = state();
        std::lock_guard lock(s.mutex);
        // Devices open on the previous bridge lose it, as if it were unplugged.
        owed = kill_open_devices(s);
        s.bridge = bridge;
        s.interfaces.reset();
        s.plugged = true;
    }
    pay_closes(owed);
}

void set_interfaces(std::vector<Interface> interfaces) {
    State& s = state();
    std::lock_guard lock(s.mutex);
    s.interfaces = std::move(interfaces);
}

std::vector<std::string> open_attempts() {
    State& s = state();
    std::lock_guard lock(s.mutex);
    return s.attempts;
}

void reset_open_attempts() {
    State& s = state();
    std::lock_guard lock(s.mutex);
    s.attempts.clear();
}

void pull_cable() {
    std::vector<OwedClose> owed;
    {
        State& s = state();
        std::lock_guard lock(s.mutex);
        s.plugged = false;
        owed = kill_open_devices(s);
    }
    pay_closes(owed);
}

void plug_cable() {
    State& s = state();
    std::lock_guard lock(s.mutex);
    s.plugged = true;
}

bool cable_plugged() {
    State& s = state();
    std::lock_guard lock(s.mutex);
    return s.plugged;
}

}  // namespace vhid

// ---------------------------------------------------------------- hidapi C API

int HID_API_EXPORT HID_API_CALL hid_init(void) { return 0; }

// Devices stay usable, as with the hidraw backend; nothing global to free.
int HID_API_EXPORT HID_API_CALL hid_exit(void) { return 0; }

struct hid_device_info HID_API_EXPORT* HID_API_CALL hid_enumerate(unsigned short vendor_id, unsigned short product_id) {
    std::vector<vhid::Interface> list;
    bool plugged = true;
    {
        State& s = state();
        std::lock_guard lock(s.mutex);
        list = current_interfaces(s);
        plugged = s.plugged;
    }
    hid_device_info* head = nullptr;
    hid_device_info** tail = &head;
    int number = 0;
    for (const auto& iface : list) {
        const int interface_number = number++;
        if (iface.is_bridge && !plugged) continue;  // an unplugged device is not listed
        if (vendor_id != 0 && iface.vendor_id != vendor_id) continue;
        if (product_id != 0 && iface.product_id != product_id) continue;
        auto* info = static_cast<hid_device_info*>(std::calloc(1, sizeof(hid_device_info)));
        if (info == nullptr) break;
        info->path = strdup(iface.path.c_str());
        info->vendor_id = iface.vendor_id;
        info->product_id = iface.product_id;
        info->serial_number = wide_copy(L"VK61SIM0001");
        info->release_number = 0x0100;
        info->manufacturer_string = wide_copy(L"VK61 Simulation");
        info->product_string = wide_copy(L"ZEQBUS USB bridge");
        info->usage_page = iface.usage_page;
        info->usage = 0x0001;
        info->interface_number = interface_number;
        info->bus_type = HID_API_BUS_USB;
        *tail = info;
        tail = &info->next;
    }
    return head;
}

void HID_API_EXPORT HID_API_CALL hid_free_enumeration(struct hid_device_info* devs) {
    while (devs != nullptr) {
        hid_device_info* next = devs->next;
        std::free(devs->path);
        std::free(devs->serial_number);
        std::free(devs->manufacturer_string);
        std::free(devs->product_string);
        std::free(devs);
        devs = next;
    }
}

HID_API_EXPORT hid_device* HID_API_CALL hid_open_path(const char* path) {
    if (path == nullptr) return open_failed(L"no path");
    State& s = state();
    std::optional<vhid::Interface> iface;
    vhid::InProcessBridge* bridge = nullptr;
    {
        std::lock_guard lock(s.mutex);
        s.attempts.emplace_back(path);
        for (const auto& candidate : current_interfaces(s)) {
            if (candidate.path == path) {
                iface = candidate;
                break;
            }
        }
        if (!iface) return open_failed(L"no such device");
        if (iface->open_fails) return open_failed(L"open refused");
        if (iface->is_bridge && !s.plugged) return open_failed(L"device not connected");
        bridge = s.bridge;
    }

    auto dev = std::make_unique<hid_device>();
    if (!iface->is_bridge) {
        dev->kind = hid_device_::Kind::Inert;
        dev->queue = std::make_shared<vhid::ReportQueue>();
    } else if (bridge != nullptr) {
        dev->kind = hid_device_::Kind::Bridge;
        dev->bridge = bridge;
        dev->queue = std::make_shared<vhid::ReportQueue>();
        dev->close_owed = std::make_shared<std::atomic<bool>>(false);
        // The sink holds the queue, not the device, so a late report after
        // close lands in a dead queue instead of freed memory.
        auto queue = dev->queue;
        if (!bridge->host_open([queue](const std::uint8_t* report, std::size_t len) { queue->push(report, len); })) {
            return open_failed(L"bridge refused the open");
        }
        dev->close_owed->store(true);
    } else {
        const auto address = wire_address();
        if (!address) return open_failed(L"VK61_BRIDGE refused");
        dev->kind = hid_device_::Kind::Wire;
        dev->wire = std::make_unique<vhid::WireClient>();
        if (!dev->wire->connect(*address, kConnectTimeout)) return open_failed(L"no bridge listening");
    }

    bool pulled_meanwhile = false;
    {
        std::lock_guard lock(s.mutex);
        if (iface->is_bridge && (!s.plugged || s.bridge != bridge)) {
            pulled_meanwhile = true;
        } else {
            s.open.insert(dev.get());
        }
    }
    if (pulled_meanwhile) {
        if (dev->close_owed && dev->close_owed->exchange(false)) dev->bridge->host_close();
        return open_failed(L"device not connected");
    }
    return dev.release();
}

HID_API_EXPORT hid_device* HID_API_CALL hid_open(unsigned short vendor_id, unsigned short product_id,
                                                 const wchar_t* serial_number) {
    hid_device_info* list = hid_enumerate(vendor_id, product_id);
    std::string path;
    for (hid_device_info* i = list; i != nullptr; i = i->next) {
        if (serial_number != nullptr && std::wcscmp(serial_number, i->serial_number) != 0) continue;
        path = i->path;
        break;
    }
    hid_free_enumeration(list);
    if (path.empty()) return open_failed(L"no such device");
    return hid_open_path(path.c_str());
}

int HID_API_EXPORT HID_API_CALL hid_write(hid_device* dev, const unsigned char* data, size_t length) {
    if (dev == nullptr || data == nullptr || length == 0) return -1;
    switch (dev->kind) {
    case hid_device_::Kind::Wire: {
        const int n = dev->wire->write_packet(data, length);
        if (n < 0) dev->error = L"device disconnected";
        return n;
    }
    case hid_device_::Kind::Bridge:
        if (dev->queue->dead()) break;
        dev->bridge->host_write(data, length);
        // The cable may have been pulled by this very write (a PullCable fault).
        if (dev->queue->dead()) break;
        return static_cast<int>(length);
    case hid_device_::Kind::Inert:
        if (dev->queue->dead()) break;
        return static_cast<int>(length);
    }
    dev->error = L"device disconnected";
    return -1;
}

int HID_API_EXPORT HID_API_CALL hid_read_timeout(hid_device* dev, unsigned char* data, size_t length,
                                                 int milliseconds) {
    if (dev == nullptr || data == nullptr) return -1;
    const int n = dev->kind == hid_device_::Kind::Wire ? dev->wire->read_report(data, length, milliseconds)
                                                       : dev->queue->pop(data, length, milliseconds);
    if (n < 0) dev->error = L"device disconnected";
    return n;
}

int HID_API_EXPORT HID_API_CALL hid_read(hid_device* dev, unsigned char* data, size_t length) {
    if (dev == nullptr) return -1;
    return hid_read_timeout(dev, data, length, dev->nonblocking ? 0 : -1);
}

int HID_API_EXPORT HID_API_CALL hid_set_nonblocking(hid_device* dev, int nonblock) {
    if (dev == nullptr) return -1;
    dev->nonblocking = nonblock != 0;
    return 0;
}

void HID_API_EXPORT HID_API_CALL hid_close(hid_device* dev) {
    if (dev == nullptr) return;
    {
        State& s = state();
        std::lock_guard lock(s.mutex);
        s.open.erase(dev);
    }
    if (dev->queue) dev->queue->kill();
    if (dev->close_owed && dev->close_owed->exchange(false)) dev->bridge->host_close();
    delete dev;
}

int HID_API_EXPORT HID_API_CALL hid_send_feature_report(hid_device* dev, const unsigned char*, size_t) {
    if (dev != nullptr) dev->error = L"feature reports not supported";
    return -1;
}

int HID_API_EXPORT HID_API_CALL hid_get_feature_report(hid_device* dev, unsigned char*, size_t) {
    if (dev != nullptr) dev->error = L"feature reports not supported";
    return -1;
}

int HID_API_EXPORT HID_API_CALL hid_get_input_report(hid_device* dev, unsigned char*, size_t) {
    if (dev != nullptr) dev->error = L"input report requests not supported";
    return -1;
}

int HID_API_EXPORT_CALL hid_get_manufacturer_string(hid_device* dev, wchar_t* string, size_t maxlen) {
    return dev == nullptr ? -1 : copy_string(string, maxlen, L"VK61 Simulation");
}

int HID_API_EXPORT_CALL hid_get_product_string(hid_device* dev, wchar_t* string, size_t maxlen) {
    return dev == nullptr ? -1 : copy_string(string, maxlen, L"ZEQBUS USB bridge");
}

int HID_API_EXPORT_CALL hid_get_serial_number_string(hid_device* dev, wchar_t* string, size_t maxlen) {
    return dev == nullptr ? -1 : copy_string(string, maxlen, L"VK61SIM0001");
}

int HID_API_EXPORT_CALL hid_get_indexed_string(hid_device* dev, int, wchar_t*, size_t) {
    if (dev != nullptr) dev->error = L"indexed strings not supported";
    return -1;
}

struct hid_device_info HID_API_EXPORT* HID_API_CALL hid_get_device_info(hid_device* dev) {
    if (dev != nullptr) dev->error = L"device info not supported";
    return nullptr;
}

HID_API_EXPORT const wchar_t* HID_API_CALL hid_error(hid_device* dev) {
    return dev == nullptr ? g_error.load() : dev->error.load();
}

HID_API_EXPORT const struct hid_api_version* HID_API_CALL hid_version(void) {
    static const hid_api_version version{HID_API_VERSION_MAJOR, HID_API_VERSION_MINOR, HID_API_VERSION_PATCH};
    return &version;
}

HID_API_EXPORT const char* HID_API_CALL hid_version_str(void) { return HID_API_VERSION_STR "-vk61-virtual"; }
