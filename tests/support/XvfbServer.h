#pragma once
// A private X server for one test: Xvfb on a display number it picks itself (no TCP listener),
// DISPLAY pointing at it while the object lives, stopped and DISPLAY restored at the end.

#include <unistd.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "support/ServerProcess.h"

namespace tandor::test {

class XvfbServer {
 public:
  // Throws std::runtime_error when Xvfb does not come up.
  XvfbServer() {
    if (const char* old = std::getenv("DISPLAY")) mOldDisplay = old;
    ::setenv("DISPLAY", (":" + mProcess.PortText()).c_str(), 1);
  }
  ~XvfbServer() {
    if (mOldDisplay)
      ::setenv("DISPLAY", mOldDisplay->c_str(), 1);
    else
      ::unsetenv("DISPLAY");
  }

  static bool Installed() { return ::access(kProgram, X_OK) == 0; }

 private:
  static constexpr const char* kProgram = "/usr/bin/Xvfb";

  std::optional<std::string> mOldDisplay;
  // The display number is written, like a server's port, once connections are accepted.
  ServerProcess mProcess{
      {kProgram, "-displayfd", "1", "-nolisten", "tcp", "-screen", "0", "800x600x24"}, false};
};

}  // namespace tandor::test
