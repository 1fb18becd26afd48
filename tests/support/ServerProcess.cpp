#include "support/ServerProcess.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>
#include <thread>

#include "support/ProgramRun.h"

namespace tandor::test {

static bool Accepts(int port) {
  sockaddr_in address{AF_INET, htons(static_cast<uint16_t>(port)), {htonl(INADDR_LOOPBACK)}, {}};
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  ::close(fd);
  return ok;
}

std::vector<std::string> ServerCommand(const std::string& kind,
                                       const std::vector<std::string>& args) {
  std::vector<std::string> argv = {
      "/usr/bin/python3", std::string(TANDOR_SOURCE_DIR) + "/tests/support/servers.py", kind};
  argv.insert(argv.end(), args.begin(), args.end());
  return argv;
}

void MakeCertificates(const std::string& folder) {
  const std::vector<std::string> argv = ServerCommand("certs", {"--root", folder});
  if (RunProgram(argv[0], {argv.begin() + 1, argv.end()}, {}).Status != 0)
    throw std::runtime_error("certificates not made in " + folder);
}

ServerProcess::ServerProcess(const std::vector<std::string>& argv, bool listens) {
  int out[2];
  if (::pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  std::vector<char*> args;
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  if ((mPid = ::fork()) == 0) {
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);  // a test that dies must not leave its server behind
    ::dup2(out[1], STDOUT_FILENO);
    ::execv(args[0], args.data());
    ::_exit(127);
  }
  ::close(out[1]);
  std::string line;  // the port line; a program that ends or fails before it leaves it empty
  for (char c; ::read(out[0], &c, 1) == 1 && c != '\n';) line += c;
  ::close(out[0]);
  mPort = line.empty() ? -1 : std::atoi(line.c_str());
  int steps = 750;  // of 20 ms: 15 s
  while (mPort > 0 && listens && !Accepts(mPort) && --steps > 0)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  if (mPort < (listens ? 1 : 0) || steps <= 0) {  // a display number may be 0
    Stop();
    throw std::runtime_error("server did not start: " + argv.back());
  }
}

ServerProcess::~ServerProcess() {
  Stop();
}

void ServerProcess::Stop() {
  if (mPid <= 0) return;
  ::kill(mPid, SIGTERM);
  for (int steps = 0; ::waitpid(mPid, nullptr, WNOHANG) == 0; ++steps) {
    if (steps == 250) ::kill(mPid, SIGKILL);  // 5 s
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  mPid = -1;
}

}  // namespace tandor::test
