#pragma once
// A launcher installed system-wide (/usr/bin/Tandor) cannot write beside itself. Its application
// folder is then drive_c/Tandor in the prefix: the launcher places a copy of itself there, takes
// the settings from its own folder or else from /etc/tandor/Tandor.ini the first time, and runs
// that copy.

#include <filesystem>
#include <initializer_list>
#include <string>

namespace tandor {

class Prefix;

inline constexpr const char* kSystemSettingsFile = "/etc/tandor/Tandor.ini";

// True when `folder` is not ours to write: not writable, or one of the system's program folders
// (which even root must leave to the package manager).
bool IsSystemFolder(const std::filesystem::path& folder);

// drive_c/Tandor in the prefix.
std::filesystem::path SystemWideAppFolder(const Prefix& prefix);

// Creates `folder` and, when it has no `Tandor.ini` yet, gives it the first of `sources` that
// exists. Throws RuntimeError when the folder or the file cannot be written.
void PrepareAppFolder(const std::filesystem::path& folder,
                      std::initializer_list<std::filesystem::path> sources);

// Places the running launcher `self` in `folder` as `name`, unless a copy of the same or a newer
// version is there already (an update may have replaced it). Throws RuntimeError.
void PlaceLauncherCopy(const std::filesystem::path& self, const std::filesystem::path& folder,
                       const std::string& name);

}  // namespace tandor
