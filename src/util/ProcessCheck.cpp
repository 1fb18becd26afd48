#include "util/ProcessCheck.h"

#include <algorithm>
#include <cctype>
#include <string>

#include "platform/ProcessList.h"

namespace tandor {

namespace {

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  return std::ranges::equal(a, b, [](char x, char y) {
    return std::tolower(static_cast<unsigned char>(x)) ==
           std::tolower(static_cast<unsigned char>(y));
  });
}

}  // namespace

bool IsProcessRunning(std::string_view name) {
  if (name.empty()) return false;
  for (ProcessId pid : ListProcessIds()) {
    if (EqualsIgnoringCase(ProcessImageName(pid), name)) return true;
  }
  return false;
}

}  // namespace tandor
