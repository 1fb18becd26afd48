#pragma once

namespace tandor {

// True when nobody can answer a window: TANDOR_UNATTENDED=1, or no display that answers. Message
// boxes then take their default answer at once and print to standard error, and list lines are
// echoed to standard output.
bool IsUnattended();

}  // namespace tandor
