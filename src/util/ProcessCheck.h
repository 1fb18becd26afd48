#pragma once
// Whether another program of the machine runs, by its executable file name.

#include <filesystem>
#include <string_view>

#include "platform/ProcessList.h"

namespace tandor {

// True when a running process of this user has an executable file name equal to `name` without
// regard to case: whole names only, no folder, no wildcards. Any failure answers false.
bool IsProcessRunning(std::string_view name);

// True while process `pid` runs the program file `file` (a link to it counts as the file).
bool IsRunningFile(ProcessId pid, const std::filesystem::path& file);

}  // namespace tandor
