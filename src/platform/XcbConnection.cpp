#include "platform/XcbConnection.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "platform/UnixSocket.h"

namespace tandor {

namespace {

using namespace std::chrono_literals;

// How long a server that drops new connections gets to take them again. One that resets after
// its last client left is back within milliseconds; a loaded machine may take seconds.
constexpr auto kPatience = 15s;

// Whether a local X server listens at the display `display` names: one that drops connections
// while it resets, or turns us away, is there; where nobody listens, nothing will answer. What
// xcb leaves in errno does not tell these apart, so the display's sockets are asked directly.
// A display over the network counts as not there: it is tried once.
bool ServerListens(const char* display) {
  char* host = nullptr;
  int number = 0;
  if (!xcb_parse_display(display, &host, &number, nullptr)) return false;
  const std::string hostName = host ? host : "";
  std::free(host);
  if (!hostName.empty() && hostName != "unix") return false;
  const std::string socket = "/tmp/.X11-unix/X" + std::to_string(number);
  return SomeoneListensAt(socket, SocketName::Abstract) || SomeoneListensAt(socket);
}
}  // namespace

XcbConnection ConnectToX11(const char* display, int* screen) {
  const auto end = std::chrono::steady_clock::now() + kPatience;
  for (auto pause = 1ms;; pause = std::min(2 * pause, std::chrono::milliseconds(100))) {
    XcbConnection connection(xcb_connect(display, screen));
    const int connectionError = connection ? xcb_connection_has_error(connection.get()) : -1;
    if (connectionError == 0) return connection;
    if (connectionError != XCB_CONN_ERROR || !ServerListens(display) ||
        std::chrono::steady_clock::now() + pause > end)
      return nullptr;
    std::this_thread::sleep_for(pause);
  }
}

}  // namespace tandor
