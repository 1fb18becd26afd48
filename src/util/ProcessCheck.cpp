#include "util/ProcessCheck.h"

#include <algorithm>

#include <string>

#include "platform/ProcessList.h"
#include "text/TextCase.h"

namespace tandor {

bool IsProcessRunning(std::string_view name, const std::vector<ProcessId>& ignored) {
  if (name.empty()) return false;
  for (ProcessId pid : ListOwnProcessIds()) {
    if (std::find(ignored.begin(), ignored.end(), pid) != ignored.end()) continue;
    if (EqualsIgnoreCase(ProcessImageName(pid), name)) return true;
  }
  return false;
}

}  // namespace tandor
