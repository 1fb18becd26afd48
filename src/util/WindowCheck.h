#pragma once
// Whether a client program's main window is open, by its caption.

#include <string_view>

namespace tandor {

// True when a main window of a client program (top-level, neither transient nor a dialog) shows
// `caption` as its title. An empty caption, or no display, answers false.
bool IsFormWindowOpen(std::string_view caption);

}  // namespace tandor
