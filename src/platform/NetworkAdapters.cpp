#include "platform/NetworkAdapters.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <net/if_arp.h>
#include <netinet/in.h>

#include <algorithm>
#include <array>
#include <memory>

namespace tandor {

namespace {

struct IfAddrsFree {
  void operator()(ifaddrs* list) const { freeifaddrs(list); }
};
using IfAddrsList = std::unique_ptr<ifaddrs, IfAddrsFree>;

int WindowsType(unsigned short hardwareType) {
  switch (hardwareType) {
    case ARPHRD_ETHER:
      return adaptertype::Ethernet;
    case ARPHRD_IEEE802_TR:
    case ARPHRD_IEEE802:
      return adaptertype::TokenRing;
    case ARPHRD_FDDI:
      return adaptertype::Fddi;
    case ARPHRD_PPP:
      return adaptertype::Ppp;
    case ARPHRD_LOOPBACK:
      return adaptertype::Loopback;
    case ARPHRD_SLIP:
    case ARPHRD_CSLIP:
      return adaptertype::Slip;
    default:
      return adaptertype::Other;
  }
}

std::string AddressText(const sockaddr* address) {
  std::array<char, INET6_ADDRSTRLEN> text{};
  const void* raw = nullptr;
  if (address->sa_family == AF_INET)
    raw = &reinterpret_cast<const sockaddr_in*>(address)->sin_addr;
  else
    raw = &reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr;
  if (!inet_ntop(address->sa_family, raw, text.data(), text.size())) return {};
  return text.data();
}

SystemAdapter& AdapterNamed(std::vector<SystemAdapter>& adapters, const std::string& name) {
  auto it = std::ranges::find(adapters, name, &SystemAdapter::Name);
  if (it != adapters.end()) return *it;
  SystemAdapter& adapter = adapters.emplace_back();
  adapter.Name = name;
  adapter.Description = name;
  return adapter;
}

void AddHardwareAddress(SystemAdapter& adapter, const sockaddr_ll* link) {
  adapter.Type = WindowsType(link->sll_hatype);
  std::size_t length = std::min<std::size_t>(link->sll_halen, sizeof(link->sll_addr));
  std::vector<std::uint8_t> bytes(link->sll_addr, link->sll_addr + length);
  bool allZero = std::ranges::all_of(bytes, [](std::uint8_t b) { return b == 0; });
  adapter.HardwareAddress = allZero ? std::vector<std::uint8_t>{} : std::move(bytes);
}

}  // namespace

std::vector<SystemAdapter> ListSystemAdapters() {
  ifaddrs* raw = nullptr;
  if (getifaddrs(&raw) != 0) return {};
  IfAddrsList list(raw);
  std::vector<SystemAdapter> adapters;
  // getifaddrs lists every interface's packet entry first, in interface order, then the IPv4
  // and the IPv6 addresses; grouping by name keeps that order.
  for (const ifaddrs* entry = list.get(); entry; entry = entry->ifa_next) {
    if (!entry->ifa_name || !entry->ifa_addr || (entry->ifa_flags & IFF_LOOPBACK)) continue;
    int family = entry->ifa_addr->sa_family;
    if (family == AF_PACKET) {
      AddHardwareAddress(AdapterNamed(adapters, entry->ifa_name),
                         reinterpret_cast<const sockaddr_ll*>(entry->ifa_addr));
    } else if (family == AF_INET || family == AF_INET6) {
      std::string text = AddressText(entry->ifa_addr);
      if (!text.empty()) AdapterNamed(adapters, entry->ifa_name).IpAddresses.push_back(text);
    }
  }
  return adapters;
}

}  // namespace tandor
