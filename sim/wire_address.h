// Where the host side of the virtual-bridge wire connects: VK61_BRIDGE=host:port,
// loopback only; unset, 127.0.0.1:47061 (the standalone simulator's port).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace vhid {

constexpr std::uint16_t kDefaultBridgePort = 47061;

struct WireAddress {
    std::string host;  // dotted IPv4 in 127.0.0.0/8
    std::uint16_t port = kDefaultBridgePort;
};

// Parses "host:port"; host is "localhost" or an IPv4 address in 127.0.0.0/8.
// nullopt, with a reason in *error, for anything else.
std::optional<WireAddress> parse_wire_address(const std::string& text, std::string* error);

// VK61_BRIDGE, or the default when it is unset or empty.
std::optional<WireAddress> wire_address_from_env(std::string* error);

}  // namespace vhid
