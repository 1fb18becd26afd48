#include "platform/Unattended.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/XcbConnection.h"

namespace tandor {

namespace {

bool CanReachWayland(const char* display) {
  std::string path = display;
  if (path.front() != '/') {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (!runtime || !*runtime) return false;
    path = std::string(runtime) + "/" + path;
  }
  sockaddr_un address{};
  if (path.size() >= sizeof(address.sun_path)) return false;
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  const bool reached =
      ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0;
  ::close(fd);
  return reached;
}

}  // namespace

bool IsUnattended() {
  const char* flag = std::getenv("TANDOR_UNATTENDED");
  if (flag && std::strcmp(flag, "1") == 0) return true;
  const char* display = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  const std::string key = std::string(display ? display : "") + '\n' + (wayland ? wayland : "");
  // Asked for every line and box: the window system is tried once per display setting.
  static std::string checkedKey;
  static bool reachable = false;
  // Open while the program runs: an X server resets when its last client leaves and drops
  // whoever connects meanwhile, which would be the toolkit connecting right after this check.
  static XcbConnection x11;
  if (checkedKey.empty() || checkedKey != key) {
    checkedKey = key;
    x11.reset();
    reachable = wayland && *wayland && CanReachWayland(wayland);
    if (!reachable && display && *display) x11 = ConnectToX11(display);
    reachable = reachable || x11;
  }
  return !reachable;
}

}  // namespace tandor
