#include "platform/Executable.h"

namespace tandor {

namespace fs = std::filesystem;

fs::path OwnExecutablePath() {
  std::error_code ec;
  fs::path path = fs::read_symlink("/proc/self/exe", ec);
  return ec ? fs::path() : path;
}

std::string BaseName(const fs::path& executable) {
  std::string name = executable.filename().string();
  if (!kExecutableSuffix.empty() && name.size() >= kExecutableSuffix.size() &&
      name.compare(name.size() - kExecutableSuffix.size(), kExecutableSuffix.size(),
                   kExecutableSuffix) == 0)
    name.resize(name.size() - kExecutableSuffix.size());
  return name;
}

}  // namespace tandor
