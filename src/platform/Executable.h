#pragma once
// The running executable: where it lies and how program files are named on this platform.

#include <filesystem>
#include <string>
#include <string_view>

namespace tandor {

// Program files carry no suffix on Linux (Tandor, TandorSample).
inline constexpr std::string_view kExecutableSuffix = "";

// The running executable's full path, from /proc/self/exe.
std::filesystem::path OwnExecutablePath();

// A file name without the executable suffix.
std::string BaseName(const std::filesystem::path& executable);

}  // namespace tandor
