#pragma once
// Whether another program of the machine runs, by its executable file name.

#include <string_view>
#include <vector>

#include "platform/ProcessList.h"

namespace tandor {

// True when a running process of this user has an executable file name equal to `name` without
// regard to case: whole names only, no folder, no wildcards. Any failure answers false.
// Processes in `ignored` do not count.
bool IsProcessRunning(std::string_view name, const std::vector<ProcessId>& ignored = {});

}  // namespace tandor
