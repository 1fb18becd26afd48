#include "hostid/AllowRule.h"
#include "text/TextCase.h"

#include <algorithm>
#include <cctype>
#include <string_view>
#include <vector>

namespace tandor {

namespace {

std::vector<std::string> SplitAtComma(const std::string& text) {
  std::vector<std::string> items;
  std::size_t start = 0;
  for (;;) {
    std::size_t comma = text.find(',', start);
    items.push_back(text.substr(start, comma - start));
    if (comma == std::string::npos) return items;
    start = comma + 1;
  }
}

bool AnyAddressOccursIn(const std::string& list, const AdapterSource& source) {
  std::string haystack = LowerAscii(list);
  std::vector<std::string> addresses = SplitAtComma(GetMacAddressList(',', source));
  return std::ranges::any_of(addresses, [&](const std::string& address) {
    // An empty item (no adapters at all) names no machine.
    return !address.empty() && haystack.find(LowerAscii(address)) != std::string::npos;
  });
}

}  // namespace

bool Allow(const std::string& allowList, const std::string& blockList,
           const AdapterSource& source) {
  if (allowList.empty() && blockList.empty()) return true;
  if (!allowList.empty() && !blockList.empty()) return false;
  if (!allowList.empty()) return AnyAddressOccursIn(allowList, source);
  return !AnyAddressOccursIn(blockList, source);
}

}  // namespace tandor
