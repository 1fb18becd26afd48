#pragma once
// A private X server for one test (Xvfb, no TCP listener): DISPLAY names it while it lives.

#include <unistd.h>

#include <cstdlib>

#include "support/ServerProcess.h"

namespace tandor::test {

class XvfbServer {
 public:
  // Throws std::runtime_error when Xvfb does not come up.
  XvfbServer() { ::setenv("DISPLAY", (":" + mProcess.PortText()).c_str(), 1); }
  ~XvfbServer() { ::unsetenv("DISPLAY"); }
  static bool Installed() { return ::access("/usr/bin/Xvfb", X_OK) == 0; }

 private:
  // The display number is written, like a server's port, once connections are accepted.
  ServerProcess mProcess{
      {"/usr/bin/Xvfb", "-displayfd", "1", "-nolisten", "tcp", "-screen", "0", "800x600x24"},
      false};
};

}  // namespace tandor::test
