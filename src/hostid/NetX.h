#pragma once
// The machine described by its network adapters: the adapter table and the address lists that
// the address display shows and the Allow/Block rule reads.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/NetworkAdapters.h"

namespace tandor {

struct NetworkAdapter {
  std::string AdapterName;
  std::string TypeName;
  std::string Description;
  std::string MacAddress;  // "00-1A-2B-3C-4D-5E"; empty when the adapter has no address
  std::vector<std::string> IpAddresses;
};

struct AdapterTable {
  std::int32_t Count = 0;
  std::vector<NetworkAdapter> Adapters;
};

// Where the adapters come from: the system by default, a fixed list in tests.
using AdapterSource = std::function<std::vector<SystemAdapter>()>;

// The text for a Windows adapter type number ("Ethernet adapter", ..., "Other adapter").
std::string AdapterTypeName(int type);
// One upper-case hexadecimal pair per byte (at most 8), joined by "-".
std::string FormatMacAddress(const std::vector<std::uint8_t>& bytes);

// Reads the adapters afresh at every call; nothing is cached.
AdapterTable ReadNetworkAdapters(const AdapterSource& source = ListSystemAdapters);

// The non-empty MAC addresses, or IP addresses, of all adapters in order, joined by `separator`.
std::string GetMacAddressList(char separator, const AdapterSource& source = ListSystemAdapters);
std::string GetIpAddressList(char separator, const AdapterSource& source = ListSystemAdapters);

}  // namespace tandor
