#pragma once
// A launcher installed system-wide (/usr/bin/Tandor) cannot write beside itself. Its application
// folder is then drive_c/Tandor in the prefix: the launcher places a copy of itself there, takes
// the settings from /etc/tandor/Tandor.ini the first time, and runs that copy.

#include <filesystem>

namespace tandor {

class Prefix;

inline constexpr const char* kSystemSettingsFile = "/etc/tandor/Tandor.ini";

// True when `folder` is not ours to write: not writable, or one of the system's program folders
// (which even root must leave to the package manager).
bool IsSystemFolder(const std::filesystem::path& folder);

// drive_c/Tandor in the prefix.
std::filesystem::path SystemWideAppFolder(const Prefix& prefix);

// Creates `folder` and gives it `Tandor.ini` from `systemSettings` when it has none yet.
// Throws RuntimeError when the folder cannot be created.
void PrepareAppFolder(const std::filesystem::path& folder,
                      const std::filesystem::path& systemSettings);

// Places the running launcher `self` in `folder` as `name`, unless a copy of the same or a newer
// version is there already (an update may have replaced it). Throws RuntimeError.
void PlaceLauncherCopy(const std::filesystem::path& self, const std::filesystem::path& folder,
                       const std::string& name);

}  // namespace tandor
