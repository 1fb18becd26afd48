#include "platform/FreeSpace.h"

#include <sys/statvfs.h>

namespace tandor {

std::uint64_t AvailableSpace(const std::filesystem::path& folder) {
  // The target folder and the ones above it may not exist yet: they are created on the way.
  for (std::filesystem::path at = folder;; at = at.parent_path()) {
    struct statvfs info {};
    if (::statvfs(at.c_str(), &info) == 0)
      return static_cast<std::uint64_t>(info.f_bavail) * info.f_frsize;
    if (at.empty() || at == at.parent_path()) return 0;
  }
}

}  // namespace tandor
