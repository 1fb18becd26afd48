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

bool IsRunningFile(ProcessId pid, const std::filesystem::path& file) {
  const std::optional<std::string> running = ProcessExecutable(pid);
  if (!running) return false;
  std::error_code ec;
  const std::filesystem::path resolved = std::filesystem::weakly_canonical(file, ec);
  return !ec && *running == resolved.string();
}

}  // namespace tandor
