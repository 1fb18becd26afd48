#include "support/ZipTools.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <stdexcept>
#include <thread>

extern char** environ;

namespace tandor::test {

namespace fs = std::filesystem;

int RunTool(const std::vector<std::string>& argv, const fs::path& folder,
            std::chrono::milliseconds timeout) {
  std::vector<char*> args;
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
  pid_t pid = 0;
  const int started = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (started != 0) return -1;
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  int status = 0;
  while (::waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void MakePythonZip(const fs::path& archive, const std::string& script) {
  // Debian's interpreter: the first python3 on PATH may be another one.
  const std::string program =
      "import sys, zipfile\nz = zipfile.ZipFile(sys.argv[1], 'w')\n" + script + "\nz.close()\n";
  const int status =
      RunTool({"/usr/bin/python3", "-c", program, archive.string()}, archive.parent_path());
  if (status != 0) throw std::runtime_error("python zipfile failed for " + archive.string());
}

void RunInfoZip(const fs::path& folder, const std::vector<std::string>& arguments) {
  std::vector<std::string> argv{"zip"};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  if (RunTool(argv, folder) != 0) throw std::runtime_error("zip failed in " + folder.string());
}

}  // namespace tandor::test
