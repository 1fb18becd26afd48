#include "support/ProgramRun.h"

#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

#include "support/TempDir.h"

namespace tandor::test {

namespace fs = std::filesystem;

// Forks `program` with `args` and `environment`; its output goes to the files `out` and `err`
// unless they are empty, and with `group` it leads a process group of its own.
static pid_t Start(const fs::path& program, const std::vector<std::string>& args,
                   const std::map<std::string, std::string>& environment, const std::string& out,
                   const std::string& err, bool group) {
  std::vector<std::string> words{program.string()};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  std::fflush(nullptr);  // or the child's freopen writes our buffered output once more
  const pid_t pid = fork();
  if (pid == 0) {
    if (group) setpgid(0, 0);
    for (const auto& [name, value] : environment) setenv(name.c_str(), value.c_str(), 1);
    if (out.empty() || (freopen(out.c_str(), "w", stdout) && freopen(err.c_str(), "w", stderr)))
      execv(program.c_str(), argv.data());
    _exit(127);
  }
  return pid;
}

ProgramResult RunProgram(const fs::path& program, const std::vector<std::string>& args,
                         const std::map<std::string, std::string>& environment,
                         std::chrono::seconds limit) {
  TempDir output;
  const fs::path out = output / "out", err = output / "err";
  const pid_t pid = Start(program, args, environment, out, err, true);
  int status = 0;
  if (!WaitFor([&] { return waitpid(pid, &status, WNOHANG) == pid; }, limit)) {
    kill(-pid, SIGKILL);  // its status then says killed: -1
    waitpid(pid, &status, 0);
  }
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadFile(out), ReadFile(err)};
}

BackgroundProgram::BackgroundProgram(const fs::path& program, const std::vector<std::string>& args,
                                     const std::map<std::string, std::string>& environment,
                                     bool quiet)
    : mPid(Start(program, args, environment, quiet ? "/dev/null" : "", "/dev/null", false)) {}

BackgroundProgram::~BackgroundProgram() {
  kill(mPid, SIGKILL);
  waitpid(mPid, nullptr, 0);
}

bool BackgroundProgram::Running() const {
  return waitpid(mPid, nullptr, WNOHANG) == 0;
}

}  // namespace tandor::test
