#include "app/SystemWide.h"

#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <optional>
#include <string>
#include <system_error>

#include "platform/Error.h"
#include "platform/FileIo.h"
#include "platform/Prefix.h"
#include "util/FileVersion.h"

namespace tandor {

namespace fs = std::filesystem;

namespace {

// "1.0.0.210" as four numbers; missing parts count as 0.
std::array<long, 4> VersionNumbers(const std::string& text) {
  std::array<long, 4> parts{};
  std::size_t at = 0;
  for (long& part : parts) {
    if (at >= text.size()) break;
    part = std::strtol(text.c_str() + at, nullptr, 10);
    at = text.find('.', at);
    if (at == std::string::npos) break;
    ++at;
  }
  return parts;
}

[[noreturn]] void ThrowFor(int error, const std::string& what) {
  throw RuntimeError(ErrorNumberFromErrno(error), ErrnoText(error) + (": " + what));
}

}  // namespace

bool IsSystemFolder(const fs::path& folder) {
  const std::string text = folder.lexically_normal().string();
  if (text == "/bin" || text == "/sbin" || text.rfind("/usr/", 0) == 0) return true;
  return ::access(folder.c_str(), W_OK) != 0;
}

fs::path SystemWideAppFolder(const Prefix& prefix) {
  return prefix.Root() / "drive_c" / "Tandor";
}

void PrepareAppFolder(const fs::path& folder, std::initializer_list<fs::path> sources) {
  std::error_code ec;
  fs::create_directories(folder, ec);
  if (ec) ThrowFor(ec.value(), folder.string());
  const fs::path settings = folder / "Tandor.ini";
  if (fs::exists(settings, ec)) return;
  for (const fs::path& source : sources) {
    std::optional<std::string> bytes = ReadWholeFile(source);
    if (!bytes) continue;
    if (!WriteFileAtomically(settings, *bytes)) ThrowFor(errno, settings.string());
    return;
  }
}

void PlaceLauncherCopy(const fs::path& self, const fs::path& folder, const std::string& name) {
  const fs::path copy = folder / name;
  std::error_code ec;
  if (fs::exists(copy, ec) &&
      VersionNumbers(GetFileVersion(copy)) >= VersionNumbers(GetFileVersion(self)))
    return;
  std::optional<std::string> bytes = ReadWholeFile(self);
  if (!bytes) ThrowFor(errno, self.string());
  // Written beside and renamed over: a copy another product's launcher runs stays intact.
  if (!WriteFileAtomically(copy, *bytes)) ThrowFor(errno, copy.string());
  fs::permissions(copy, fs::perms(0755), ec);
  if (ec) ThrowFor(ec.value(), copy.string());
}

}  // namespace tandor
