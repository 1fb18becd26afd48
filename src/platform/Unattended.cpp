#include "platform/Unattended.h"

#include <cstdlib>
#include <cstring>

namespace tandor {

bool IsUnattended() {
  const char* flag = std::getenv("TANDOR_UNATTENDED");
  if (flag && std::strcmp(flag, "1") == 0) return true;
  const char* display = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  return !(display && *display) && !(wayland && *wayland);
}

}  // namespace tandor
