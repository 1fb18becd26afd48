// The built updater at start: its options, the role its file name and argument pick, failures it
// must report, and an installation in a folder it cannot write.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "platform/Prefix.h"
#include "support/ProgramRun.h"
#include "support/TempDir.h"
#include "sync/Messages.h"
#include "util/FileVersion.h"
#include "util/ProcessCheck.h"

namespace tandor::test {
namespace {

namespace fs = std::filesystem;

// A product name of these tests' own: the launcher looks for a running working copy by name, so
// one of a common name left running elsewhere would change what it does.
constexpr const char* kProduct = "Plover";
constexpr const char* kWorkingCopy = "TandorPlover";
// An address where nothing listens: a working copy that starts ends quickly.
constexpr const char* kDeadServer = "[Tandor]\r\nAddress=127.0.0.1\r\nPort=1\r\n";
const std::string kNoConnection = msg::ConnectionFailed("ftp", "127.0.0.1");

class RolesTest : public ::testing::Test {
 protected:
  RolesTest() {
    fs::create_directories(mApp);
    fs::copy_file(TANDOR_BINARY, mApp / "Tandor");
    WriteFile(mApp / "Tandor.ini", kDeadServer);
    fs::permissions(mDir.Path(), fs::perms(0755));  // other users reach what is handed to them
  }
  ProgramResult Run(const fs::path& program, const std::vector<std::string>& args,
                    std::map<std::string, std::string> env = {}) {
    env.insert({{"TANDOR_PREFIX", (mDir / "prefix").string()}, {"TANDOR_UNATTENDED", "1"}});
    return RunProgram(program, args, env, std::chrono::seconds(60));
  }
  TempDir mDir;
  fs::path mApp = mDir / "prefix" / "drive_c" / "Client";
};

TEST_F(RolesTest, OptionsAreNeverProductNames) {
  const struct {
    std::vector<std::string> Args;
    int Status;
    std::string Out, Err;
  } cases[] = {
      {{}, 0, "", ""},
      {{"--help"}, 0, "  64  usage error\n", ""},
      {{"--version"}, 0, "Tandor 1.00.0210\n", ""},
      {{"--bogus"}, 64, "", "Tandor: unknown option --bogus\nUsage: Tandor <product>"},
      {{"--wait"}, 64, "", "Tandor: --wait needs a product name\n"},
      {{"--wait", "--help"}, 64, "", "--wait needs a product name"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.Args));
    const ProgramResult run = Run(mApp / "Tandor", c.Args);
    EXPECT_EQ(run.Status, c.Status);
    EXPECT_NE(run.Out.find(c.Out), std::string::npos) << run.Out;
    EXPECT_NE(run.Err.find(c.Err), std::string::npos) << run.Err;
  }
  // Neither no argument nor an option was taken for a product: no working copy, log or prefix.
  EXPECT_EQ(std::distance(fs::directory_iterator(mApp), fs::directory_iterator()), 2);
  EXPECT_FALSE(fs::exists(mDir / "prefix" / "registry.ini"));
}

// The address display reads the settings without consuming them; a name that fits no role (the
// working copy of product Old) shows the damaged-file message.
TEST_F(RolesTest, OperatorRoleAndADamagedName) {
  fs::copy_file(mApp / "Tandor", mApp / "TandorOld");
  ProgramResult run = Run(mApp / "Tandor", {"$net"});
  EXPECT_EQ(run.Status, 0);
  EXPECT_NE(run.Err.find("[NET Address] IP Address:\n"), std::string::npos) << run.Err;
  EXPECT_EQ(ReadFile(mApp / "Tandor.ini"), kDeadServer);
  EXPECT_TRUE(fs::exists(mDir / "prefix" / "registry.ini"));
  run = Run(mApp / "TandorOld", {kProduct});
  EXPECT_EQ(run.Status, 1);
  EXPECT_NE(run.Err.find(msg::kDamagedFile), std::string::npos) << run.Err;
  EXPECT_FALSE(fs::exists(mApp / "Err.log"));
}

TEST_F(RolesTest, LauncherCopiesItselfAndStartsTheWorkingCopy) {
  WriteFile(mApp / kWorkingCopy, "an old working copy");
  const ProgramResult run = Run(mApp / "Tandor", {kProduct});
  EXPECT_EQ(run.Status, 0) << run.Err;
  EXPECT_TRUE(ReadFile(mApp / kWorkingCopy) == ReadFile(mApp / "Tandor"));
  EXPECT_EQ(::access((mApp / kWorkingCopy).c_str(), X_OK), 0);
  // The working copy ran its pass: it could not connect and logged it.
  EXPECT_TRUE(WaitFor([&] { return ReadFile(mApp / "Err.log").starts_with(kNoConnection); },
                      std::chrono::seconds(20)));
  EXPECT_TRUE(WaitFor([] { return !IsProcessRunning(kWorkingCopy); }, std::chrono::seconds(20)));
}

// While something named like the product's working copy runs, the launcher stands aside: done
// for a product that starts it and goes on, "already running" for a caller that waits.
TEST_F(RolesTest, LauncherStandsAsideWhileTheWorkingCopyRuns) {
  fs::create_directories(mDir / "elsewhere");
  fs::copy_file("/bin/sleep", mDir / "elsewhere" / kWorkingCopy);
  const pid_t sleeper = fork();
  if (sleeper == 0) {
    execl((mDir / "elsewhere" / kWorkingCopy).c_str(), kWorkingCopy, "30", nullptr);
    _exit(127);
  }
  ASSERT_TRUE(WaitFor([] { return IsProcessRunning(kWorkingCopy); }, std::chrono::seconds(5)));
  const ProgramResult run = Run(mApp / "Tandor", {kProduct});
  const ProgramResult waiting = Run(mApp / "Tandor", {"--wait", kProduct});
  kill(sleeper, SIGKILL);
  waitpid(sleeper, nullptr, 0);
  EXPECT_EQ(run.Status, 0);
  EXPECT_EQ(run.Err, "");
  EXPECT_EQ(waiting.Status, 75);
  EXPECT_NE(waiting.Err.find("already running"), std::string::npos) << waiting.Err;
  EXPECT_FALSE(fs::exists(mApp / kWorkingCopy));
}

// What keeps the launcher from starting: a prefix it cannot create (73), a working copy it cannot
// write (1, with the run-time error); a display nobody answers makes the run unattended.
TEST_F(RolesTest, FailuresAtStartSayWhy) {
  WriteFile(mDir / "a-file", "");
  using Env = std::map<std::string, std::string>;
  const Env underAFile = {{"TANDOR_PREFIX", (mDir / "a-file" / "prefix").string()}};
  const Env deadDisplay = {{"DISPLAY", ":87"},
                           {"WAYLAND_DISPLAY", ""},
                           {"QT_QPA_PLATFORM", ""},
                           {"TANDOR_UNATTENDED", "0"}};
  const std::string box = msg::RuntimeError(75, ""),
                    inTheWay = "[Tandor 1.0.210] " + box.substr(0, box.find('\r'));
  const struct {
    Env Vars;
    int Status;
    std::string Says;
  } cases[] = {{underAFile, 73, "[Tandor] 프리픽스 폴더를 만들 수 없습니다.\n"},
               {deadDisplay, 2, kNoConnection},
               {{}, 1, inTheWay}};  // a folder where the working copy goes
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Status);
    fs::remove_all(mApp / kWorkingCopy);
    if (c.Status == 1) fs::create_directories(mApp / kWorkingCopy / "in-the-way");
    WriteFile(mApp / "Tandor.ini", kDeadServer);
    const ProgramResult run = Run(mApp / "Tandor", {"--wait", kProduct}, c.Vars);
    EXPECT_EQ(run.Status, c.Status) << run.Out << run.Err;
    EXPECT_NE((run.Out + run.Err).find(c.Says), std::string::npos) << run.Out << run.Err;
  }
}

TEST_F(RolesTest, LauncherInAFolderItCannotWriteRunsItsCopyInThePrefix) {
  const fs::path bin = mDir / "bin", system = mDir / "prefix" / "drive_c" / "Tandor";
  fs::create_directories(bin);
  fs::copy_file(TANDOR_BINARY, bin / "Tandor");
  WriteFile(bin / "Tandor.ini", kDeadServer);  // taken along the first time
  fs::permissions(bin, fs::perms(0555));
  // Root writes anywhere: it runs the launcher as nobody, who may write the prefix alone.
  std::vector<std::string> args = {(bin / "Tandor").string(), "--wait", kProduct};
  if (::getuid() == 0) {
    for (const auto& entry : fs::recursive_directory_iterator(mDir / "prefix"))
      ::lchown(entry.path().c_str(), 65534, 65534);
    ::lchown((mDir / "prefix").c_str(), 65534, 65534);
    args.insert(args.begin(),
                {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"});
  }
  const ProgramResult run = Run(args[0], {args.begin() + 1, args.end()});
  EXPECT_EQ(run.Status, 2) << run.Out << run.Err;
  EXPECT_TRUE(ReadFile(system / "Tandor") == ReadFile(bin / "Tandor"));
  EXPECT_TRUE(ReadFile(system / kWorkingCopy) == ReadFile(bin / "Tandor"));
  EXPECT_TRUE(ReadFile(system / "Err.log").starts_with(kNoConnection));
  EXPECT_EQ(std::distance(fs::directory_iterator(bin), fs::directory_iterator()), 2);
  EXPECT_EQ(ReadFile(bin / "Tandor.ini"), kDeadServer);
}

// The version resource the build embeds, read from a renamed copy of the built binary in both
// code pages the prefix may have.
TEST_F(RolesTest, RenamedCopyOfTheUpdaterStillKnowsWhatItIs) {
  fs::copy_file(TANDOR_BINARY, mApp / "TandorOld");
  const Prefix prefix(mDir / "prefix");
  for (int codePage : {65001, 949}) {
    const FileVersionFields fields =
        VersionInfoQuery(prefix, CodePage(codePage)).QueryFileVersionInfo("C:\\Client\\TandorOld");
    EXPECT_EQ(fields.FileDescription + "/" + fields.LegalCopyright + "/" + fields.ProductVersion,
              "Tandor 자동 업데이트/Copyright (C) Harrowin/1.00.0210");
  }
  EXPECT_EQ(GetFileVersion(mApp / "TandorOld"), "1.0.0.210");
}

}  // namespace
}  // namespace tandor::test
