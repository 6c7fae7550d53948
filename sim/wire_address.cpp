#include "wire_address.h"

#include <arpa/inet.h>

#include <cstdlib>

namespace vhid {

std::optional<WireAddress> parse_wire_address(const std::string& text, std::string* error) {
    const auto fail = [error](const std::string& why) -> std::optional<WireAddress> {
        if (error != nullptr) *error = why;
        return std::nullopt;
    };
    const auto colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 == text.size()) {
        return fail("expected host:port");
    }
    WireAddress address;
    address.host = text.substr(0, colon);
    if (address.host == "localhost") address.host = "127.0.0.1";
    in_addr ip{};
    if (inet_pton(AF_INET, address.host.c_str(), &ip) != 1) return fail("host is not an IPv4 address");
    if ((ntohl(ip.s_addr) >> 24) != 127) return fail("only loopback addresses (127.0.0.0/8) are allowed");
    const std::string port_text = text.substr(colon + 1);
    char* end = nullptr;
    const unsigned long port = std::strtoul(port_text.c_str(), &end, 10);
    if (end == nullptr || *end != '\0' || port == 0 || port > 65535) return fail("port must be 1-65535");
    address.port = static_cast<std::uint16_t>(port);
    return address;
}

std::optional<WireAddress> wire_address_from_env(std::string* error) {
    const char* text = std::getenv("VK61_BRIDGE");
    if (text == nullptr || *text == '\0') return WireAddress{"127.0.0.1", kDefaultBridgePort};
    return parse_wire_address(text, error);
}

}  // namespace vhid
