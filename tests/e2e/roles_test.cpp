// The roles of the built updater, picked by its file name and argument.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "support/ProgramRun.h"
#include "support/TempDir.h"
#include "util/ProcessCheck.h"

namespace tandor::test {
namespace {

namespace fs = std::filesystem;

// Product names of these tests' own: the launcher looks for a running working copy by name, so
// one of a common name left running elsewhere would change what it does.
constexpr const char* kProduct = "Plover";
constexpr const char* kWorkingCopy = "TandorPlover";

class RolesTest : public ::testing::Test {
 protected:
  RolesTest() {
    fs::create_directories(mApp);
    fs::copy_file(TANDOR_BINARY, mApp / "Tandor");
    // An address where nothing listens: a working copy that starts ends quickly.
    WriteFile(mApp / "Tandor.ini", kSettings);
  }

  ProgramResult Run(const std::string& program, const std::vector<std::string>& args) {
    return RunProgram(mApp / program, args,
                      {{"TANDOR_PREFIX", (mDir / "prefix").string()}, {"TANDOR_UNATTENDED", "1"}},
                      std::chrono::seconds(30));
  }

  static constexpr const char* kSettings = "[Tandor]\r\nAddress=127.0.0.1\r\nPort=1\r\n";
  TempDir mDir;
  fs::path mApp = mDir / "prefix" / "drive_c" / "Client";
};

TEST_F(RolesTest, LauncherCopiesItselfAndStartsTheWorkingCopy) {
  WriteFile(mApp / kWorkingCopy, "an old working copy");
  ProgramResult run = Run("Tandor", {kProduct});
  EXPECT_EQ(run.Status, 0) << run.Err;
  EXPECT_TRUE(ReadFile(mApp / kWorkingCopy) == ReadFile(mApp / "Tandor"));
  EXPECT_NE(fs::status(mApp / kWorkingCopy).permissions() & fs::perms::owner_exec,
            fs::perms::none);
  // The working copy ran its pass: it could not connect and logged it.
  EXPECT_TRUE(WaitFor([&] { return ReadFile(mApp / "Err.log").find("ftp://127.0.0.1") == 0; },
                      std::chrono::seconds(20)));
  EXPECT_TRUE(WaitFor([] { return !IsProcessRunning(kWorkingCopy); }, std::chrono::seconds(20)));
}

TEST_F(RolesTest, LauncherDoesNothingWhileTheWorkingCopyRuns) {
  // Something named like the product's working copy runs, from another folder.
  fs::create_directories(mDir / "elsewhere");
  fs::copy_file("/bin/sleep", mDir / "elsewhere" / kWorkingCopy);
  pid_t sleeper = fork();
  if (sleeper == 0) {
    execl((mDir / "elsewhere" / kWorkingCopy).c_str(), kWorkingCopy, "30", nullptr);
    _exit(127);
  }
  ASSERT_TRUE(WaitFor([] { return IsProcessRunning(kWorkingCopy); }, std::chrono::seconds(5)));
  ProgramResult run = Run("Tandor", {kProduct});
  kill(sleeper, SIGKILL);
  waitpid(sleeper, nullptr, 0);
  EXPECT_EQ(run.Status, 0);
  EXPECT_EQ(run.Err, "");
  EXPECT_FALSE(fs::exists(mApp / kWorkingCopy));
}

TEST_F(RolesTest, NamesThatFitNoRoleShowTheDamagedFileMessage) {
  struct Case {
    const char* file;
    const char* argument;
    bool damaged;
  } cases[] = {
      {kWorkingCopy, "Other", true},
      {"TandorOld", kProduct, true},
      // the working copy of product Old
  };
  for (const Case& c : cases) {
    if (!fs::exists(mApp / c.file)) fs::copy_file(mApp / "Tandor", mApp / c.file);
    ProgramResult run = Run(c.file, {c.argument});
    const bool shown =
        run.Err.find("[Tandor] 파일이 손상되었으므로 프로그램을 시작할 수 없습니다.") !=
        std::string::npos;
    EXPECT_EQ(shown, c.damaged) << c.file << " " << c.argument << ": " << run.Err;
    EXPECT_EQ(run.Status, c.damaged ? 1 : 2) << c.file << " " << c.argument;
  }
}

// No argument ends at once; the address display reads the settings without consuming them.
TEST_F(RolesTest, OperatorRolesLeaveTheSettingsAlone) {
  const fs::path registry = mDir / "prefix" / "registry.ini";
  EXPECT_EQ(Run("Tandor", {}).Status, 0);
  EXPECT_FALSE(fs::exists(registry));
  ProgramResult run = Run("Tandor", {"$net"});
  EXPECT_EQ(run.Status, 0);
  EXPECT_NE(run.Err.find("[NET Address] IP Address:\n"), std::string::npos) << run.Err;
  EXPECT_EQ(ReadFile(mApp / "Tandor.ini"), kSettings);
  EXPECT_TRUE(fs::exists(registry));
  EXPECT_FALSE(fs::exists(mApp / "Err.log"));
}

TEST_F(RolesTest, LauncherReportsRunTimeErrorsOtherThanAFileInUse) {
  // A folder stands where the working copy must be written.
  fs::create_directories(mApp / kWorkingCopy / "in-the-way");
  ProgramResult run = Run("Tandor", {kProduct});
  EXPECT_EQ(run.Status, 1);
  EXPECT_NE(run.Err.find("[Tandor 1.0.210] '75' 런타임 오류가 발생하였습니다.:\n\n"),
            std::string::npos)
      << run.Err;
}

}  // namespace
}  // namespace tandor::test
