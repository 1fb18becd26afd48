#include "platform/Unattended.h"

#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "platform/UnixSocket.h"
#include "platform/XcbConnection.h"

namespace tandor {

namespace {

// The variable's value; empty when it is not set.
std::string ValueOf(const char* variable) {
  const char* value = std::getenv(variable);
  return value ? value : "";
}

bool CanReachWayland(const std::string& display) {
  if (display.front() == '/') return SomeoneListensAt(display);
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  return runtime && *runtime && SomeoneListensAt(std::string(runtime) + "/" + display);
}

}  // namespace

std::optional<std::string> WhyUnattended() {
  const char* flag = std::getenv("TANDOR_UNATTENDED");
  if (flag && std::strcmp(flag, "1") == 0) return "TANDOR_UNATTENDED=1 asks for no windows";
  const std::string display = ValueOf("DISPLAY");
  const std::string wayland = ValueOf("WAYLAND_DISPLAY");
  if (display.empty() && wayland.empty()) return "neither DISPLAY nor WAYLAND_DISPLAY is set";
  const std::string key = display + '\n' + wayland;
  // Asked for every line and box: the window system is tried once per display setting.
  static std::string checkedKey;
  static bool reachable = false;
  // Open while the program runs: an X server resets when its last client leaves and drops
  // whoever connects meanwhile, which would be the toolkit connecting right after this check.
  static XcbConnection x11;
  if (checkedKey != key) {
    checkedKey = key;
    x11.reset();
    reachable = !wayland.empty() && CanReachWayland(wayland);
    if (!reachable && !display.empty()) x11 = ConnectToX11(display.c_str());
    reachable = reachable || x11;
  }
  if (reachable) return std::nullopt;
  std::string settings = display.empty() ? "" : " DISPLAY=" + display;
  if (!wayland.empty()) settings += " WAYLAND_DISPLAY=" + wayland;
  return "no window system answers at" + settings;
}

bool IsUnattended() {
  return WhyUnattended().has_value();
}

}  // namespace tandor
