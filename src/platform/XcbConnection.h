#pragma once
// The one owner of connections to an X server.

#include <xcb/xcb.h>

#include <memory>

namespace tandor {

struct XcbConnectionCloser {
  void operator()(xcb_connection_t* connection) const { xcb_disconnect(connection); }
};
using XcbConnection = std::unique_ptr<xcb_connection_t, XcbConnectionCloser>;

// A working connection to the X server `display` names (nullptr: $DISPLAY), its default screen
// in `screen` when asked for; nothing when no server answers there. A server that is there but
// drops the connection (as one does while it resets, after its last client left) is tried
// again until it answers, for up to 15 seconds; where nobody listens, or the display is over
// the network, nothing comes after the first try.
XcbConnection ConnectToX11(const char* display, int* screen = nullptr);

}  // namespace tandor
