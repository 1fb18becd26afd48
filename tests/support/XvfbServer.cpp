#include "support/XvfbServer.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>
#include <vector>

extern char** environ;

namespace tandor::test {

namespace {

constexpr const char* XvfbPath = "/usr/bin/Xvfb";
constexpr int StartTimeoutMs = 15000;
constexpr auto StopTimeout = std::chrono::seconds(5);

// Waits for the display number Xvfb writes once it accepts connections.
std::optional<std::string> ReadDisplayNumber(int fd) {
  std::string text;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(StartTimeoutMs);
  while (text.find('\n') == std::string::npos) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return std::nullopt;
    pollfd ready{fd, POLLIN, 0};
    if (poll(&ready, 1, static_cast<int>(left.count())) <= 0) return std::nullopt;
    char buffer[64];
    ssize_t n = read(fd, buffer, sizeof buffer);
    if (n <= 0) return std::nullopt;
    text.append(buffer, static_cast<std::size_t>(n));
  }
  return text.substr(0, text.find('\n'));
}

bool WaitForExit(pid_t pid, std::chrono::steady_clock::duration timeout) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  while (std::chrono::steady_clock::now() < deadline) {
    int status = 0;
    pid_t result = waitpid(pid, &status, WNOHANG);
    if (result == pid || result < 0) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

}  // namespace

bool XvfbServer::Installed() {
  return access(XvfbPath, X_OK) == 0;
}

XvfbServer::XvfbServer() {
  if (const char* old = std::getenv("DISPLAY")) mOldDisplay = old;
  if (!Installed()) {
    mProblem = "Xvfb is not installed";
    return;
  }
  Start();
}

XvfbServer::~XvfbServer() {
  Stop();
  if (mOldDisplay)
    setenv("DISPLAY", mOldDisplay->c_str(), 1);
  else
    unsetenv("DISPLAY");
}

void XvfbServer::Start() {
  int pipeFds[2];
  if (pipe2(pipeFds, O_CLOEXEC) != 0) {
    mProblem = "pipe failed";
    return;
  }
  // Xvfb picks a free display number itself and reports it on fd 3 when it is ready.
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 3);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  std::vector<std::string> words = {XvfbPath, "-displayfd", "3", "-nolisten",
                                    "tcp",    "-screen",    "0", "800x600x24"};
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  int error = posix_spawn(&pid, XvfbPath, &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(pipeFds[1]);
  if (error != 0) {
    close(pipeFds[0]);
    mProblem = "cannot start Xvfb";
    return;
  }
  mPid = pid;
  std::optional<std::string> number = ReadDisplayNumber(pipeFds[0]);
  close(pipeFds[0]);
  if (!number || number->empty()) {
    mProblem = "Xvfb did not report a display";
    Stop();
    return;
  }
  mDisplay = ":" + *number;
  setenv("DISPLAY", mDisplay.c_str(), 1);
}

void XvfbServer::Stop() {
  if (mPid <= 0) return;
  kill(mPid, SIGTERM);
  if (!WaitForExit(mPid, StopTimeout)) {
    kill(mPid, SIGKILL);
    WaitForExit(mPid, StopTimeout);
  }
  mPid = -1;
}

}  // namespace tandor::test
