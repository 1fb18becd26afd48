#include "platform/Process.h"

#include <linux/close_range.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/CommandLine.h"
#include "platform/Error.h"
#include "platform/Prefix.h"

extern char** environ;

namespace tandor {

namespace {

std::string Describe(const ParsedCommandLine& command) {
  std::string text = command.Program;
  if (command.NativeProgram.string() != command.Program)
    text += " (" + command.NativeProgram.string() + ")";
  return text;
}

[[noreturn]] void ThrowStartFailure(const ParsedCommandLine& command, int error) {
  if (error == ENOENT)
    throw RuntimeError(err::FileNotFound, "File not found: " + Describe(command));
  if (error == EACCES || error == ENOEXEC || error == EISDIR)
    throw RuntimeError(err::PermissionDenied,
                       "Permission denied: " + Describe(command) + " is not a program");
  throw RuntimeError(ErrorNumberFromErrno(error),
                     "Cannot start " + Describe(command) + ": " + ErrnoText(error));
}

// Checks up front what the loader would refuse, so that the failure names the reason.
void CheckRunnable(const ParsedCommandLine& command) {
  struct stat info {};
  if (stat(command.NativeProgram.c_str(), &info) != 0) ThrowStartFailure(command, errno);
  if (S_ISDIR(info.st_mode)) ThrowStartFailure(command, EISDIR);
  if (access(command.NativeProgram.c_str(), X_OK) != 0) ThrowStartFailure(command, errno);
}

// argv with the native program first; the strings live in `storage`.
std::vector<char*> BuildArgv(const ParsedCommandLine& command, std::vector<std::string>& storage) {
  storage.clear();
  storage.push_back(command.NativeProgram.string());
  storage.insert(storage.end(), command.Arguments.begin(), command.Arguments.end());
  std::vector<char*> argv;
  for (std::string& word : storage) argv.push_back(word.data());
  argv.push_back(nullptr);
  return argv;
}

class SpawnActions {
 public:
  SpawnActions() { posix_spawn_file_actions_init(&mActions); }
  ~SpawnActions() { posix_spawn_file_actions_destroy(&mActions); }
  SpawnActions(const SpawnActions&) = delete;
  SpawnActions& operator=(const SpawnActions&) = delete;
  posix_spawn_file_actions_t* Get() { return &mActions; }

 private:
  posix_spawn_file_actions_t mActions;
};

class SpawnAttributes {
 public:
  SpawnAttributes() { posix_spawnattr_init(&mAttributes); }
  ~SpawnAttributes() { posix_spawnattr_destroy(&mAttributes); }
  SpawnAttributes(const SpawnAttributes&) = delete;
  SpawnAttributes& operator=(const SpawnAttributes&) = delete;
  posix_spawnattr_t* Get() { return &mAttributes; }

 private:
  posix_spawnattr_t mAttributes;
};

}  // namespace

ProcessId StartProgram(const Prefix& prefix, std::string_view commandLine, WindowStyle /*style*/) {
  ParsedCommandLine command = ParseCommandLine(prefix, commandLine);
  CheckRunnable(command);
  std::vector<std::string> storage;
  std::vector<char*> argv = BuildArgv(command, storage);

  SpawnActions actions;
  // Like a program started on Windows without handle inheritance: our sockets and log file
  // stay ours.
  posix_spawn_file_actions_addclosefrom_np(actions.Get(), 3);
  SpawnAttributes attributes;
  sigset_t none;
  sigemptyset(&none);
  sigset_t all;
  sigfillset(&all);
  posix_spawnattr_setsigmask(attributes.Get(), &none);
  posix_spawnattr_setsigdefault(attributes.Get(), &all);
  posix_spawnattr_setflags(attributes.Get(), POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

  // What this program printed comes before what the started one prints to the same output.
  std::fflush(nullptr);
  pid_t pid = 0;
  int error = posix_spawn(&pid, command.NativeProgram.c_str(), actions.Get(), attributes.Get(),
                          argv.data(), environ);
  if (error != 0) ThrowStartFailure(command, error);
  return pid;
}

std::optional<int> PollExitCode(ProcessId pid) {
  int status = 0;
  pid_t result = waitpid(pid, &status, WNOHANG);
  if (result == 0) return std::nullopt;
  if (result == pid) {
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return std::nullopt;  // stopped or continued: still there
  }
  // Not our child, or already collected: all that can be told is whether it still runs.
  if (!ProcessImageName(pid).empty()) return std::nullopt;
  return 0;
}

[[noreturn]] void ReplaceProcess(const Prefix& prefix, std::string_view commandLine) {
  ParsedCommandLine command = ParseCommandLine(prefix, commandLine);
  CheckRunnable(command);
  std::vector<std::string> storage;
  std::vector<char*> argv = BuildArgv(command, storage);
  // Marked close-on-exec rather than closed: should exec fail, this program goes on intact.
  syscall(SYS_close_range, 3U, ~0U, CLOSE_RANGE_CLOEXEC);
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  // Output still in this program's buffers would be lost with it.
  std::fflush(nullptr);
  execve(command.NativeProgram.c_str(), argv.data(), environ);
  ThrowStartFailure(command, errno);
}

}  // namespace tandor
