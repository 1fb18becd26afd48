#pragma once

#include <optional>
#include <string>

namespace tandor {

// True when nobody can answer a window: TANDOR_UNATTENDED=1, or no display that answers. Message
// boxes then take their default answer at once and print to standard error, and list lines are
// echoed to standard output.
bool IsUnattended();

// Why nobody can answer a window, in a few English words (e.g. "neither DISPLAY nor
// WAYLAND_DISPLAY is set"); nothing when a display answers and TANDOR_UNATTENDED is not 1.
std::optional<std::string> WhyUnattended();

}  // namespace tandor
