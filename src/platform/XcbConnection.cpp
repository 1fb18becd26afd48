#include "platform/XcbConnection.h"

namespace tandor {

XcbConnection ConnectToX11(const char* display, int* screen) {
  XcbConnection connection(xcb_connect(display, screen));
  if (connection && xcb_connection_has_error(connection.get()) != 0) connection.reset();
  return connection;
}

}  // namespace tandor
