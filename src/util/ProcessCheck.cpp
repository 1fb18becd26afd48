#include "util/ProcessCheck.h"

#include <string>

#include "platform/ProcessList.h"
#include "text/TextCase.h"

namespace tandor {

bool IsProcessRunning(std::string_view name) {
  if (name.empty()) return false;
  for (ProcessId pid : ListOwnProcessIds()) {
    if (EqualsIgnoreCase(ProcessImageName(pid), name)) return true;
  }
  return false;
}

}  // namespace tandor
