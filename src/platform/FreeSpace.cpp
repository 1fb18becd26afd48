#include "platform/FreeSpace.h"

#include <sys/statvfs.h>

#include <algorithm>
#include <optional>

namespace tandor {

namespace {

// statvfs of the nearest folder of `folder` that exists: the target folder and the ones above it
// may not exist yet, as they are created on the way.
std::optional<struct statvfs> FileSystemOf(const std::filesystem::path& folder) {
  for (std::filesystem::path at = folder;; at = at.parent_path()) {
    struct statvfs info {};
    if (::statvfs(at.c_str(), &info) == 0) return info;
    if (at.empty() || at == at.parent_path()) return std::nullopt;
  }
}

}  // namespace

std::uint64_t FreeSpaceMarginOf(const std::filesystem::path& folder) {
  const std::optional<struct statvfs> info = FileSystemOf(folder);
  if (!info) return FreeSpaceMargin;
  const std::uint64_t size = static_cast<std::uint64_t>(info->f_blocks) * info->f_frsize;
  return std::min(FreeSpaceMargin, size / 32);
}

std::uint64_t AvailableSpace(const std::filesystem::path& folder) {
  const std::optional<struct statvfs> info = FileSystemOf(folder);
  return info ? static_cast<std::uint64_t>(info->f_bavail) * info->f_frsize : 0;
}

}  // namespace tandor
