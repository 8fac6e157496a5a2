#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace korvane::platform {

/// The kind of a network adapter, as far as the system's users tell them apart.
enum class AdapterType {
  kEthernet,  ///< wired Ethernet, bridges, TAP devices
  kPpp,       ///< point-to-point links
  kWireless,  ///< wireless LAN (Ethernet framing, but a radio)
  kOther,     ///< loopback, tunnels and the rest
};

/// An IPv4 address of an adapter with its subnet mask, both in host byte order.
struct AdapterAddress {
  std::uint32_t address = 0;
  std::uint32_t mask = 0;
};

/// One network adapter of this machine.
struct Adapter {
  std::string name;
  unsigned index = 0;
  AdapterType type = AdapterType::kOther;
  std::vector<std::uint8_t> hardwareAddress;  ///< empty when it has none
  std::vector<AdapterAddress> ipv4;
};

/// The machine's adapters in interface index order; empty with a message in `err` when they
/// cannot be listed.
std::vector<Adapter> listAdapters(std::string* err);

}  // namespace korvane::platform
