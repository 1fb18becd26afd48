#pragma once
// Whether another program of the machine runs, by its executable file name.

#include <string_view>

namespace tandor {

// True when a running process of this user has an executable file name equal to `name` without
// regard to case: whole names only, no folder, no wildcards. Any failure answers false.
bool IsProcessRunning(std::string_view name);

}  // namespace tandor
