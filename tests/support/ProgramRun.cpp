#include "support/ProgramRun.h"

#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/TempDir.h"

namespace tandor::test {

namespace fs = std::filesystem;

ProgramResult RunProgram(const fs::path& program, const std::vector<std::string>& args,
                         const std::map<std::string, std::string>& environment,
                         std::chrono::seconds limit) {
  TempDir output;
  const fs::path out = output / "out";
  const fs::path err = output / "err";
  pid_t pid = fork();
  if (pid == 0) {
    setpgid(0, 0);
    for (const auto& [name, value] : environment) setenv(name.c_str(), value.c_str(), 1);
    if (!freopen(out.c_str(), "w", stdout) || !freopen(err.c_str(), "w", stderr)) _exit(126);
    std::vector<std::string> copies;
    copies.push_back(program.string());
    copies.insert(copies.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : copies) argv.push_back(a.data());
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  ProgramResult result;
  int status = 0;
  bool ended = WaitFor([&] { return waitpid(pid, &status, WNOHANG) == pid; },
                       std::chrono::duration_cast<std::chrono::milliseconds>(limit));
  if (!ended) {
    kill(-pid, SIGKILL);
    waitpid(pid, &status, 0);
  } else if (WIFEXITED(status)) {
    result.Status = WEXITSTATUS(status);
  }
  result.Out = ReadFile(out);
  result.Err = ReadFile(err);
  return result;
}

}  // namespace tandor::test
