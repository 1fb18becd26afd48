#include "hostid/NetX.h"

#include <algorithm>
#include <cstdio>

namespace tandor {

namespace {

// Descriptions can carry NULs and padding from the system; the table holds the bare text.
std::string CleanDescription(std::string text) {
  std::erase(text, '\0');
  auto notBlank = [](char c) { return c != ' '; };
  auto first = std::ranges::find_if(text, notBlank);
  auto last = std::find_if(text.rbegin(), text.rend(), notBlank).base();
  return first < last ? std::string(first, last) : std::string();
}

std::string CutAtNul(const std::string& text) {
  return text.substr(0, text.find('\0'));
}

// Joins the items with `separator`; empty items are skipped.
std::string Join(const std::vector<std::string>& items, char separator) {
  std::string text;
  for (const std::string& item : items) {
    if (item.empty()) continue;
    if (!text.empty()) text += separator;
    text += item;
  }
  return text;
}

}  // namespace

std::string AdapterTypeName(int type) {
  switch (type) {
    case adaptertype::Ethernet:
      return "Ethernet adapter";
    case adaptertype::TokenRing:
      return "Token Ring adapter";
    case adaptertype::Fddi:
      return "FDDI adapter";
    case adaptertype::Ppp:
      return "PPP adapter";
    case adaptertype::Loopback:
      return "Loopback adapter";
    case adaptertype::Slip:
      return "Slip adapter";
    default:
      return "Other adapter";
  }
}

std::string FormatMacAddress(const std::vector<std::uint8_t>& bytes) {
  constexpr std::size_t MaxBytes = 8;
  std::string text;
  for (std::size_t i = 0; i < bytes.size() && i < MaxBytes; ++i) {
    char pair[3];
    std::snprintf(pair, sizeof pair, "%02X", bytes[i]);
    if (i > 0) text += '-';
    text += pair;
  }
  return text;
}

AdapterTable ReadNetworkAdapters(const AdapterSource& source) {
  AdapterTable table;
  for (const SystemAdapter& system : source()) {
    NetworkAdapter adapter;
    adapter.AdapterName = system.Name;
    adapter.TypeName = AdapterTypeName(system.Type);
    adapter.Description = CleanDescription(system.Description);
    adapter.MacAddress = FormatMacAddress(system.HardwareAddress);
    for (const std::string& address : system.IpAddresses)
      adapter.IpAddresses.push_back(CutAtNul(address));
    table.Adapters.push_back(std::move(adapter));
  }
  table.Count = static_cast<std::int32_t>(table.Adapters.size());
  return table;
}

std::string GetMacAddressList(char separator, const AdapterSource& source) {
  std::vector<std::string> items;
  for (const NetworkAdapter& adapter : ReadNetworkAdapters(source).Adapters)
    items.push_back(adapter.MacAddress);
  return Join(items, separator);
}

std::string GetIpAddressList(char separator, const AdapterSource& source) {
  std::vector<std::string> items;
  for (const NetworkAdapter& adapter : ReadNetworkAdapters(source).Adapters)
    items.insert(items.end(), adapter.IpAddresses.begin(), adapter.IpAddresses.end());
  return Join(items, separator);
}

}  // namespace tandor
