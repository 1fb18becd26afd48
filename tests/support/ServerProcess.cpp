#include "support/ServerProcess.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>
#include <thread>

namespace tandor::test {

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto StartLimit = std::chrono::seconds(15);

bool Accepts(int port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  ::close(fd);
  return ok;
}

// The first line the server writes, within the deadline.
std::string ReadPortLine(int fd, Clock::time_point deadline) {
  std::string line;
  while (line.find('\n') == std::string::npos) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) break;
    pollfd entry{fd, POLLIN, 0};
    if (::poll(&entry, 1, static_cast<int>(left)) <= 0) continue;
    char buffer[64];
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got <= 0) break;
    line.append(buffer, static_cast<size_t>(got));
  }
  return line;
}

}  // namespace

std::vector<std::string> ServerCommand(const std::string& kind) {
  return {"/usr/bin/python3", std::string(TANDOR_SOURCE_DIR) + "/tests/support/servers.py", kind};
}

ServerProcess::ServerProcess(const std::vector<std::string>& argv, bool listens) {
  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  std::vector<char*> args;
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  mPid = ::fork();
  if (mPid == 0) {
    // A test that dies without unwinding must not leave its server behind.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    ::dup2(pipeFds[1], STDOUT_FILENO);
    ::execv(args[0], args.data());
    ::_exit(127);
  }
  ::close(pipeFds[1]);
  if (mPid < 0) {
    ::close(pipeFds[0]);
    throw std::runtime_error("fork failed");
  }
  const auto deadline = Clock::now() + StartLimit;
  const std::string line = ReadPortLine(pipeFds[0], deadline);
  ::close(pipeFds[0]);
  try {
    mPort = std::stoi(line);
  } catch (...) {
    Stop();
    throw std::runtime_error("server did not report its port: " + argv.back());
  }
  while (listens && !Accepts(mPort)) {
    if (Clock::now() > deadline) {
      Stop();
      throw std::runtime_error("server does not accept connections");
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

ServerProcess::~ServerProcess() {
  Stop();
}

void ServerProcess::Stop() {
  if (mPid <= 0) return;
  ::kill(mPid, SIGTERM);
  const auto deadline = Clock::now() + std::chrono::seconds(5);
  while (::waitpid(mPid, nullptr, WNOHANG) == 0) {
    if (Clock::now() > deadline) {
      ::kill(mPid, SIGKILL);
      ::waitpid(mPid, nullptr, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  mPid = -1;
}

}  // namespace tandor::test
