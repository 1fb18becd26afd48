#include "platform/XcbConnection.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <thread>

namespace tandor {

namespace {

using namespace std::chrono_literals;

// How long a server that drops new connections gets to take them again. One that resets after
// its last client left is back within milliseconds; a loaded machine may take seconds.
constexpr auto kPatience = 15s;

// A server that is there but busy: it dropped the connection while resetting, or its queue of
// new connections was full. Nobody listening (no socket, refused) or a server that turns us
// away fails at once.
bool IsBusyServer(int connectionError, int error) {
  return connectionError == XCB_CONN_ERROR &&
         (error == ECONNRESET || error == EAGAIN || error == EINTR || error == EPIPE);
}

}  // namespace

XcbConnection ConnectToX11(const char* display, int* screen) {
  const auto end = std::chrono::steady_clock::now() + kPatience;
  for (auto pause = 1ms;; pause = std::min(2 * pause, std::chrono::milliseconds(100))) {
    errno = 0;
    XcbConnection connection(xcb_connect(display, screen));
    const int error = errno;
    const int connectionError = connection ? xcb_connection_has_error(connection.get()) : -1;
    if (connectionError == 0) return connection;
    if (!IsBusyServer(connectionError, error) || std::chrono::steady_clock::now() + pause > end)
      return nullptr;
    std::this_thread::sleep_for(pause);
  }
}

}  // namespace tandor
