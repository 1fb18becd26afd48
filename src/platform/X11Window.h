#pragma once
// Looking up top-level windows on the X display.

#include <string_view>

namespace tandor {

// True when the display shows a window of the client programs' kind whose title is `title`:
// a top-level window, viewable, neither transient for another window nor of dialog type.
// Titles are compared as UTF-8, exactly. `displayName` nothing means $DISPLAY. No display, or
// one that cannot be reached, means no window is open.
bool IsTopLevelWindowOpen(std::string_view title, const char* displayName = nullptr);

}  // namespace tandor
