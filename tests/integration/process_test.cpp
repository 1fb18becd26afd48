// Real programs started from Windows-form command lines, found by name, waited for and replaced.

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <optional>
#include <tuple>

#include "platform/Error.h"
#include "platform/Prefix.h"
#include "platform/Process.h"
#include "settings/ClientSettings.h"
#include "support/ProgramRun.h"
#include "support/TempDir.h"
#include "util/ProcessCheck.h"
#include "util/Registration.h"

namespace tandor {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

struct Child {  // killed and collected when the test is over, whatever happened
  ProcessId Pid;
  ~Child() { kill(Pid, SIGKILL), waitpid(Pid, nullptr, 0); }
};

class ProcessTest : public ::testing::Test {
 protected:
  // A program at `windowsPath` that records "leak" when it inherited descriptor 9, then its
  // arguments and its process id, one per line.
  void Recorder(const std::string& windowsPath) {
    const fs::path file = mPrefix.ToNative(windowsPath);
    test::WriteFile(file,
                    "#!/bin/sh\nexec >'" + mRecord.string() +
                        "'\n[ -e /proc/$$/fd/9 ] && echo leak\nprintf '%s\\n' \"$@\" \"pid $$\"\n");
    fs::permissions(file, fs::perms::owner_all);
  }
  // Starts a copy of `original` named `name` with `arguments`.
  ProcessId Start(const fs::path& original, const std::string& name, const std::string& arguments) {
    fs::create_directories(mTemp / "bin");
    fs::copy_file(original, mTemp / "bin" / name);
    return StartProgram(mPrefix, (mTemp / "bin" / name).string() + " " + arguments,
                        WindowStyle::Hidden);
  }

  test::TempDir mTemp;
  Prefix mPrefix = Prefix::Open(mTemp / "prefix");
  const fs::path mRecord = mTemp / "record.txt";
};

TEST_F(ProcessTest, StartsCommandLinesAsWindowsReadsThem) {
  for (const char* path : {"C:\\Sample\\rec", "C:\\Program Files\\My App\\rec", "C:\\Tools\\run",
                           "C:\\Tools\\run me", "C:\\Windows\\System32\\REGSVR32.exe"})
    Recorder(path);
  fs::create_directories(mPrefix.ToNative("C:\\Program Files\\My"));  // a folder, never a program
  test::WriteFile(mPrefix.ToNative("C:\\Sample\\data.txt"), "text");
  ClientSettings settings;
  settings.WinSysPath = mPrefix.SystemFolder();
  constexpr int Start = 2, Replace = 3;  // otherwise a REGSVR32 mode
  // What the program recorded by its end, or the error it failed with.
  auto run = [&](const std::string& commandLine, int mode) -> std::string {
    fs::remove(mRecord);
    try {
      std::optional<ProcessId> pid;
      if (mode == Replace && (pid = fork()) == 0)
        [&]() noexcept { ReplaceProcess(mPrefix, commandLine); }();
      if (mode < Replace)
        pid = mode == Start ? StartProgram(mPrefix, commandLine, WindowStyle::NormalFocus)
                            : RunRegsvr32(settings, mPrefix, commandLine, mode);
      if (!pid) return fs::exists(mRecord) ? "recorded unasked" : "not started";
      std::optional<int> code;
      test::WaitFor([&] { return (code = PollExitCode(*pid)).has_value(); }, 10s);
      if (code != 0) return "failed";
      const std::string record = test::ReadFile(mRecord);
      return record.ends_with("pid " + std::to_string(*pid) + "\n") ? record
                                                                    : "other pid " + record;
    } catch (const RuntimeError& e) {
      return "error " + std::to_string(e.Number()) + ": " + e.Description();
    }
  };
  // The command line (with a REGSVR32 mode: the file to register), the mode, what it gives.
  const std::tuple<std::string, int, std::string> cases[] = {
      {"c:\\Sample\\rec a b", Start, "a\nb\npid "},
      {"\"C:\\Program Files\\My App\\rec\" Sample x", Start, "Sample\nx\npid "},
      {"C:\\Tools\\run me x", Start, "me\nx\npid "},  // the shortest path that exists wins
      {mPrefix.ToNative("C:\\Sample\\rec").string() + " native", Start, "native\npid "},
      {"C:\\NoFolder\\missing arg", Start, "error 53: File not found: C:\\NoFolder\\missing ("},
      {"C:\\Sample\\data.txt", Start, "error 70: Permission denied: C:\\Sample\\data.txt ("},
      {"C:\\Sample\\a.dll", -1, "/S\nC:\\Sample\\a.dll\npid "},
      {"C:\\Sample\\a.dll", 0, "/S\n/U\nC:\\Sample\\a.dll\npid "},
      {"C:\\Sample\\a.dll", 1, "not started"},
      {"C:\\Sample\\rec Sample", Replace, "Sample\npid "},  // the same process, files closed
  };
  // Descriptors other than the standard three stay with the starting program.
  ASSERT_EQ(dup2(open("/dev/null", O_RDONLY), 9), 9);
  for (const auto& [commandLine, mode, result] : cases)
    EXPECT_THAT(run(commandLine, mode), ::testing::StartsWith(result)) << commandLine;
  close(9);
}

TEST_F(ProcessTest, FindsThisUsersRunningProgramsByWholeNameWithoutCase) {
  Child sample{Start("/bin/sleep", "TandorSample", "30")};
  // A script runs as its interpreter: this one is a shell of its own name.
  const std::string gate = (mTemp / "gate").string();
  Child later{Start("/bin/sh", "TandorLater",
                    "-c \"until [ -e '" + gate + "' ]; do sleep 0.01; done; exit 7\"")};
  for (const char* name : {"tandorSAMPLE", "TandorLater"}) EXPECT_TRUE(IsProcessRunning(name));
  for (const char* name : {"TandorSampl", "TandorSample.exe"}) EXPECT_FALSE(IsProcessRunning(name));
  // By file: the very file (or a link to it), never another file of the same name; a file
  // replaced while it runs still counts.
  fs::create_directories(mTemp / "other");
  fs::copy_file("/bin/sleep", mTemp / "other" / "TandorSample");
  fs::create_symlink(mTemp / "bin", mTemp / "link");
  EXPECT_TRUE(IsRunningFile(sample.Pid, mTemp / "link" / "TandorSample"));
  EXPECT_FALSE(IsRunningFile(sample.Pid, mTemp / "other" / "TandorSample"));
  fs::rename(mTemp / "other" / "TandorSample", mTemp / "bin" / "TandorSample");
  EXPECT_TRUE(IsRunningFile(sample.Pid, mTemp / "bin" / "TandorSample"));
  // Polling never waits; an ended program no longer runs, though nobody has collected it yet.
  EXPECT_EQ(PollExitCode(later.Pid), std::nullopt);
  test::WriteFile(gate, "");
  EXPECT_TRUE(test::WaitFor([] { return !IsProcessRunning("TandorLater"); }, 10s));
  EXPECT_EQ(PollExitCode(later.Pid), 7);
  EXPECT_FALSE(IsRunningFile(later.Pid, mTemp / "bin" / "TandorLater"));

  // Another user's program of the same name is theirs: it never holds up this user's updater.
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to run a program as another user";
  fs::permissions(mTemp.Path(), fs::perms::others_exec, fs::perm_options::add);
  fs::copy_file("/bin/sleep", mTemp / "bin" / "TandorOtherUser");
  Child other{Start("/usr/bin/setpriv", "setpriv",
                    "--reuid=65534 --regid=65534 --clear-groups " + mTemp.Path().string() +
                        "/bin/TandorOtherUser 30")};
  ASSERT_TRUE(test::WaitFor([&] { return ProcessImageName(other.Pid) == "TandorOtherUser"; }, 5s));
  EXPECT_FALSE(IsProcessRunning("TandorOtherUser"));
}

}  // namespace
}  // namespace tandor
