#pragma once
// Whether another program of the machine runs, by its executable file name.

#include <string_view>

namespace tandor {

// True when a running process's executable file name equals `name` without regard to case:
// whole names only, no folder, no wildcards. Any failure answers false.
bool IsProcessRunning(std::string_view name);

}  // namespace tandor
