#include "support/ProgramRun.h"

#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

#include "support/TempDir.h"

namespace tandor::test {

namespace fs = std::filesystem;

// argv for execv: `program`, then `args`; the pointers are into `words`.
static std::vector<char*> Argv(std::vector<std::string>& words) {
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  return argv;
}

ProgramResult RunProgram(const fs::path& program, const std::vector<std::string>& args,
                         const std::map<std::string, std::string>& environment,
                         std::chrono::seconds limit) {
  TempDir output;
  const fs::path out = output / "out", err = output / "err";
  std::vector<std::string> words{program.string()};
  words.insert(words.end(), args.begin(), args.end());
  const std::vector<char*> argv = Argv(words);
  std::fflush(nullptr);  // or the child's freopen writes our buffered output once more
  const pid_t pid = fork();
  if (pid == 0) {
    setpgid(0, 0);
    for (const auto& [name, value] : environment) setenv(name.c_str(), value.c_str(), 1);
    if (freopen(out.c_str(), "w", stdout) && freopen(err.c_str(), "w", stderr))
      execv(program.c_str(), argv.data());
    _exit(127);
  }
  int status = 0;
  if (!WaitFor([&] { return waitpid(pid, &status, WNOHANG) == pid; }, limit)) {
    kill(-pid, SIGKILL);  // its status then says killed: -1
    waitpid(pid, &status, 0);
  }
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadFile(out), ReadFile(err)};
}

BackgroundProgram::BackgroundProgram(const fs::path& program, const std::vector<std::string>& args,
                                     const std::map<std::string, std::string>& environment,
                                     bool quiet) {
  std::vector<std::string> words{program.string()};
  words.insert(words.end(), args.begin(), args.end());
  const std::vector<char*> argv = Argv(words);
  std::fflush(nullptr);
  if ((mPid = fork()) == 0) {
    for (const auto& [name, value] : environment) setenv(name.c_str(), value.c_str(), 1);
    if (!quiet || (freopen("/dev/null", "w", stdout) && freopen("/dev/null", "w", stderr)))
      execv(program.c_str(), argv.data());
    _exit(127);
  }
}

BackgroundProgram::~BackgroundProgram() {
  kill(mPid, SIGKILL);
  waitpid(mPid, nullptr, 0);
}

bool BackgroundProgram::Running() const {
  return waitpid(mPid, nullptr, WNOHANG) == 0;
}

}  // namespace tandor::test
