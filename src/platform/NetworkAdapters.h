#pragma once
// The machine's network interfaces as the system lists them.

#include <cstdint>
#include <string>
#include <vector>

namespace tandor {

// Windows adapter type numbers, which the address display names.
namespace adaptertype {
constexpr int Other = 1;
constexpr int Ethernet = 6;
constexpr int TokenRing = 9;
constexpr int Fddi = 15;
constexpr int Ppp = 23;
constexpr int Loopback = 24;
constexpr int Slip = 28;
}  // namespace adaptertype

struct SystemAdapter {
  std::string Name;
  std::string Description;
  int Type = adaptertype::Other;
  std::vector<std::uint8_t> HardwareAddress;  // empty when the interface has none
  std::vector<std::string> IpAddresses;       // IPv4 first, then IPv6, in the system's order
};

// The interfaces in the order the system lists them. Loopback interfaces are left out, and an
// all-zero hardware address counts as none: the Windows adapter list shows neither. Empty when
// the system gives no information.
std::vector<SystemAdapter> ListSystemAdapters();

}  // namespace tandor
