// Real programs started, found by name, waited for and replaced; the registration tool started
// from the prefix's system folder.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>

#include "platform/CommandLine.h"
#include "platform/Error.h"
#include "platform/Prefix.h"
#include "platform/Process.h"
#include "platform/ProcessList.h"
#include "settings/ClientSettings.h"
#include "support/TempDir.h"
#include "util/ProcessCheck.h"
#include "util/Registration.h"

namespace tandor {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr auto ExitTimeout = 10s;

// Kills and collects a started program when the test is over, whatever happened.
class Child {
 public:
  explicit Child(ProcessId pid) : mPid(pid) {}
  ~Child() {
    kill(mPid, SIGKILL);
    waitpid(mPid, nullptr, 0);
  }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;
  ProcessId Pid() const { return mPid; }

 private:
  ProcessId mPid;
};

std::optional<int> WaitForExitCode(ProcessId pid) {
  auto deadline = std::chrono::steady_clock::now() + ExitTimeout;
  while (std::chrono::steady_clock::now() < deadline) {
    if (std::optional<int> code = PollExitCode(pid)) return code;
    std::this_thread::sleep_for(10ms);
  }
  return std::nullopt;
}

// True once the process has ended but not yet been collected.
bool WaitUntilZombie(ProcessId pid) {
  auto deadline = std::chrono::steady_clock::now() + ExitTimeout;
  while (std::chrono::steady_clock::now() < deadline) {
    std::string stat = test::ReadFile("/proc/" + std::to_string(pid) + "/stat");
    std::size_t close = stat.rfind(')');
    if (close != std::string::npos && close + 2 < stat.size() && stat[close + 2] == 'Z')
      return true;
    std::this_thread::sleep_for(10ms);
  }
  return false;
}

void WriteProgram(const fs::path& file, const std::string& text) {
  test::WriteFile(file, text);
  fs::permissions(file, fs::perms::owner_all | fs::perms::group_read | fs::perms::others_read);
}

class ProcessTest : public ::testing::Test {
 protected:
  ProcessTest() : mPrefix(Prefix::Open(mTemp / "prefix")) {}

  // A program at `windowsPath` that writes its arguments one per line to `record`, then its
  // process id, then "leak" when it inherited descriptor 9.
  void Recorder(const std::string& windowsPath) {
    const std::string record = "'" + Record().string() + "'";
    WriteProgram(mPrefix.ToNative(windowsPath),
                 "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > " + record +
                     "\necho \"pid $$\" >> " + record +
                     "\nif [ -e /proc/$$/fd/9 ]; then echo leak >> " + record + "; fi\n");
  }
  fs::path Record() const { return mTemp / "record.txt"; }

  // The arguments a recorder wrote, without its pid line.
  std::string RecordedArguments() const {
    std::string text = test::ReadFile(Record());
    return text.substr(0, text.find("pid "));
  }

  fs::path CopyOf(const fs::path& original, const std::string& name) {
    fs::path copy = mTemp / "bin" / name;
    fs::create_directories(copy.parent_path());
    fs::copy_file(original, copy, fs::copy_options::overwrite_existing);
    return copy;
  }

  test::TempDir mTemp;
  Prefix mPrefix;
};

TEST_F(ProcessTest, FindsARunningProgramByItsWholeFileNameWithoutCase) {
  Child sample(StartProgram(mPrefix, CopyOf("/bin/sleep", "TandorSample").string() + " 30",
                            WindowStyle::NormalFocus));
  Child longName(StartProgram(mPrefix,
                              CopyOf("/bin/sleep", "TandorVeryLongProductName").string() + " 30",
                              WindowStyle::Hidden));
  // A program whose file was replaced still runs under its name.
  fs::path replaced = CopyOf("/bin/sleep", "TandorReplaced");
  Child replacedChild(StartProgram(mPrefix, replaced.string() + " 30", WindowStyle::NormalFocus));
  fs::remove(replaced);

  struct Case {
    const char* name;
    bool running;
  };
  const Case cases[] = {
      {"TANDORSAMPLE", true},
      {"TandorSampl", false},
      {"TandorSample.exe", false},
      {"tandorverylongproductname", true},
      {"TandorReplaced", true},
  };
  for (const Case& c : cases) EXPECT_EQ(IsProcessRunning(c.name), c.running) << c.name;

  // Another user's program of the same name is theirs: it never holds up this user's updater.
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to run a program as another user";
  fs::permissions(mTemp.Path(),
                  fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
  fs::permissions(mTemp / "bin", fs::perms::owner_all | fs::perms::others_exec);
  const fs::path other = CopyOf("/bin/sleep", "TandorOtherUser");
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (::setgid(65534) == 0 && ::setuid(65534) == 0)
      ::execl(other.c_str(), other.c_str(), "30", static_cast<char*>(nullptr));
    ::_exit(127);
  }
  Child otherChild(pid);
  bool seen = false;  // the process is there, under its name, before the check is trusted
  for (int i = 0; i < 500 && !seen; ++i, std::this_thread::sleep_for(10ms))
    seen = ProcessImageName(pid) == "TandorOtherUser";
  ASSERT_TRUE(seen);
  EXPECT_FALSE(IsProcessRunning("TandorOtherUser"));
}

TEST_F(ProcessTest, PollingNeverBlocksAndAnEndedProgramNoLongerRuns) {
  // A script runs as its interpreter; give the program a binary of its own name instead.
  fs::path gate = mTemp / "gate";
  ProcessId pid =
      StartProgram(mPrefix,
                   CopyOf("/bin/sh", "TandorEndsLater").string() + " -c \"while [ ! -e '" +
                       gate.string() + "' ]; do sleep 0.01; done; exit 7\"",
                   WindowStyle::NormalFocus);
  Child guard(pid);
  auto before = std::chrono::steady_clock::now();
  EXPECT_EQ(PollExitCode(pid), std::nullopt);
  EXPECT_LT(std::chrono::steady_clock::now() - before, 1s);
  EXPECT_TRUE(IsProcessRunning("TandorEndsLater"));
  test::WriteFile(gate, "");
  ASSERT_TRUE(WaitUntilZombie(pid));
  EXPECT_FALSE(IsProcessRunning("TandorEndsLater"));
  EXPECT_EQ(PollExitCode(pid), 7);
}

TEST_F(ProcessTest, StartsCommandLinesAsWindowsReadsThem) {
  Recorder("C:\\Sample\\rec");
  Recorder("C:\\Program Files\\My App\\rec");
  fs::create_directories(mPrefix.ToNative("C:\\Program Files\\My"));  // a folder, never a program
  Recorder("C:\\Tools\\run");
  Recorder("C:\\Tools\\run me");

  struct Case {
    std::string commandLine;
    std::string arguments;
  };
  const Case cases[] = {
      {"c:\\Sample\\rec a b", "a\nb\n"},
      {"C:\\Sample\\rec \"C:\\My Files\\a.dll\" /S", "C:\\My Files\\a.dll\n/S\n"},
      {"\"C:\\Program Files\\My App\\rec\" Sample x", "Sample\nx\n"},
      {"C:\\Tools\\run me x", "me\nx\n"},  // the shortest path that exists wins
      {mPrefix.ToNative("C:\\Sample\\rec").string() + " native", "native\n"},
  };
  // Descriptors other than the standard three stay with the starting program.
  int leaked = open("/dev/null", O_RDONLY);
  ASSERT_EQ(dup2(leaked, 9), 9);
  for (const Case& c : cases) {
    fs::remove(Record());
    ProcessId pid = StartProgram(mPrefix, c.commandLine, WindowStyle::Hidden);
    ASSERT_EQ(WaitForExitCode(pid), 0) << c.commandLine;
    EXPECT_EQ(RecordedArguments(), c.arguments) << c.commandLine;
    EXPECT_EQ(test::ReadFile(Record()).find("leak"), std::string::npos) << c.commandLine;
  }
  close(9);
  close(leaked);
}

TEST_F(ProcessTest, AStartThatCannotRunFailsWithAReason) {
  test::WriteFile(mPrefix.ToNative("C:\\Sample\\data.txt"), "text");
  WriteProgram(mPrefix.ToNative("C:\\Sample\\noformat"), "plain text, no interpreter line\n");

  struct Case {
    std::string commandLine;
    int number;
  };
  const Case cases[] = {
      {"C:\\NoFolder\\missing arg", err::FileNotFound},
      {"C:\\Sample\\data.txt", err::PermissionDenied},
      {"C:\\Sample\\noformat", err::PermissionDenied},
  };
  for (const Case& c : cases) {
    try {
      StartProgram(mPrefix, c.commandLine, WindowStyle::NormalFocus);
      ADD_FAILURE() << "started " << c.commandLine;
    } catch (const RuntimeError& e) {
      EXPECT_EQ(e.Number(), c.number) << c.commandLine;
      std::string program = c.commandLine.substr(0, c.commandLine.find(' '));
      EXPECT_NE(e.Description().find(program), std::string::npos) << e.Description();
    }
  }
}

TEST_F(ProcessTest, ReplacingTheProcessKeepsItsIdAndDropsOpenFiles) {
  Recorder("C:\\Sample\\Tandor");
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    int leaked = open("/dev/null", O_RDONLY);
    dup2(leaked, 9);
    try {
      ReplaceProcess(mPrefix, "C:\\Sample\\Tandor Sample");
    } catch (...) {
    }
    _exit(99);
  }
  std::optional<int> code = WaitForExitCode(pid);
  if (!code) kill(pid, SIGKILL), waitpid(pid, nullptr, 0);
  ASSERT_EQ(code, 0);
  EXPECT_EQ(test::ReadFile(Record()), "Sample\npid " + std::to_string(pid) + "\n");

  try {
    ReplaceProcess(mPrefix, "C:\\Sample\\NoSuchLauncher Sample");
    FAIL() << "a missing program replaced the test";
  } catch (const RuntimeError& e) {
    EXPECT_EQ(e.Number(), err::FileNotFound);
  }
}

TEST_F(ProcessTest, RegistersThroughTheSystemFoldersTool) {
  ClientSettings settings;
  settings.WinSysPath = mPrefix.SystemFolder();
  Recorder(mPrefix.SystemFolder() + "\\REGSVR32.exe");

  struct Case {
    std::string path;
    std::int16_t mode;
    std::optional<std::string> arguments;
  };
  const Case cases[] = {
      {"C:\\Sample\\a.dll", -1, "/S\nC:\\Sample\\a.dll\n"},
      {"C:\\Sample\\a.dll", 0, "/S\n/U\nC:\\Sample\\a.dll\n"},
      {"C:\\My Files\\b.ocx", -1, "/S\nC:\\My\nFiles\\b.ocx\n"},  // callers quote blanks
      {"C:\\Sample\\a.dll", 1, std::nullopt},
  };
  for (const Case& c : cases) {
    fs::remove(Record());
    std::optional<ProcessId> pid = RunRegsvr32(settings, mPrefix, c.path, c.mode);
    ASSERT_EQ(pid.has_value(), c.arguments.has_value()) << c.mode;
    if (!pid) {
      EXPECT_FALSE(fs::exists(Record()));
      continue;
    }
    ASSERT_EQ(WaitForExitCode(*pid), 0);
    EXPECT_EQ(RecordedArguments(), *c.arguments) << c.path << " " << c.mode;
  }
  // Without the tool, registering fails like any other start.
  fs::remove(mPrefix.ToNative(mPrefix.SystemFolder() + "\\REGSVR32.exe"));
  try {
    RunRegsvr32(settings, mPrefix, "C:\\Sample\\a.dll", -1);
    FAIL() << "started a missing tool";
  } catch (const RuntimeError& e) {
    EXPECT_EQ(e.Number(), err::FileNotFound);
    EXPECT_NE(e.Description().find("REGSVR32.exe"), std::string::npos);
  }
}

}  // namespace
}  // namespace tandor
