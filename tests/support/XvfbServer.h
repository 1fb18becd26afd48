#pragma once
// A private X server for one test: Xvfb on a display number it picks itself, DISPLAY pointing at
// it while the object lives, stopped and DISPLAY restored at the end.

#include <sys/types.h>

#include <optional>
#include <string>

namespace tandor::test {

class XvfbServer {
 public:
  XvfbServer();
  ~XvfbServer();
  XvfbServer(const XvfbServer&) = delete;
  XvfbServer& operator=(const XvfbServer&) = delete;

  // False when Xvfb is not installed or did not come up; the reason is in Problem().
  bool Running() const { return mPid > 0; }
  const std::string& Problem() const { return mProblem; }
  // ":N"
  const std::string& DisplayName() const { return mDisplay; }

  // True when the Xvfb program is on this machine.
  static bool Installed();

 private:
  void Start();
  void Stop();

  pid_t mPid = -1;
  std::string mDisplay;
  std::string mProblem;
  std::optional<std::string> mOldDisplay;
};

}  // namespace tandor::test
