// The built updater at start: its options, the role its file name and argument pick, and the
// failures it must report.

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "support/ProgramRun.h"
#include "support/TempDir.h"
#include "ui/Messages.h"
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

class RolesTest : public ::testing::Test {
 protected:
  RolesTest() {
    fs::create_directories(mApp);
    fs::copy_file(TANDOR_BINARY, mApp / "Tandor");
    WriteFile(mApp / "Tandor.ini", kDeadServer);
  }
  ProgramResult Run(const fs::path& program, const std::vector<std::string>& args,
                    std::map<std::string, std::string> env = {}) {
    env.insert({{"TANDOR_PREFIX", (mDir / "prefix").string()}, {"TANDOR_UNATTENDED", "1"}});
    return RunProgram(program, args, env, std::chrono::seconds(60));
  }
  TempDir mDir;
  fs::path mApp = mDir / "prefix" / "drive_c" / "Client";
};

// Options are never product names; the address display reads the settings without consuming
// them; a name that fits no role (the working copy of product Old) shows the damaged-file message;
// the publisher window, which only an operator at a screen can use, will not run without one.
// What keeps the launcher from starting: a prefix it cannot create (73), a working copy it cannot
// write (1, with the run-time error).
TEST_F(RolesTest, OptionsRolesAndFailuresAtStart) {
  fs::copy_file(mApp / "Tandor", mApp / "TandorOld");
  fs::create_directories(mApp / kWorkingCopy / "in-the-way");
  WriteFile(mDir / "a-file", "");
  const std::string underAFile = (mDir / "a-file" / "prefix").string();
  const std::string box = msg::RuntimeError(75, ""),
                    inTheWay = "[Tandor 1.0.210] " + box.substr(0, box.find('\r'));
  const std::string noDisplay = std::string(msg::kPublisherNeedsDisplay) + "\n";
  const struct {
    std::vector<std::string> Args;  // the program, then its arguments
    int Status;
    std::string Says;  // in the output or the error output
    std::map<std::string, std::string> Vars = {};
  } cases[] = {
      {{"Tandor"}, 0, ""},
      {{"Tandor", "--help"}, 0, "  64  usage error\n"},
      {{"Tandor", "--help"}, 0, "\n  4   the manifest was not trusted"},
      {{"Tandor", "--version"}, 0, "Tandor 1.00.0210\n"},
      {{"Tandor", "--bogus"}, 64, "Tandor: unknown option --bogus\nUsage: Tandor <product>"},
      {{"Tandor", "--wait"}, 64, "Tandor: --wait needs a product name\n"},
      {{"Tandor", "$net"}, 0, "[NET Address] IP Address:\n"},
      {{"TandorOld", kProduct}, 1, msg::kDamagedFile},
      {{"Tandor", "--wait", kProduct},
       73,
       "[Tandor] 프리픽스 폴더를 만들 수 없습니다.\n",
       {{"TANDOR_PREFIX", underAFile}}},
      {{"Tandor", "--wait", kProduct}, 1, inTheWay},
      {{"Tandor", "$Version"}, 69, noDisplay + "Tandor: the publisher window needs a display"},
      {{"Tandor", "$version"},
       69,
       "neither DISPLAY nor WAYLAND_DISPLAY is set",
       {{"TANDOR_UNATTENDED", ""}, {"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}}},
      {{"Tandor", "$Version"},
       69,
       "DISPLAY=:4242",
       {{"TANDOR_UNATTENDED", ""}, {"DISPLAY", ":4242"}, {"WAYLAND_DISPLAY", ""}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.Args));
    const auto start = std::chrono::steady_clock::now();
    const ProgramResult run = Run(mApp / c.Args[0], {c.Args.begin() + 1, c.Args.end()}, c.Vars);
    EXPECT_EQ(run.Status, c.Status);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
    EXPECT_NE((run.Out + run.Err).find(c.Says), std::string::npos) << run.Out << run.Err;
  }
  // None ran a pass: no log, the settings unread.
  EXPECT_EQ(std::distance(fs::directory_iterator(mApp), fs::directory_iterator()), 4);
  EXPECT_EQ(ReadFile(mApp / "Tandor.ini"), kDeadServer);
}

// While something named like the product's working copy runs, the launcher stands aside: done
// for a product that starts it and goes on, "already running" for a caller that waits.
TEST_F(RolesTest, LauncherStandsAsideWhileTheWorkingCopyRuns) {
  fs::create_directories(mDir / "elsewhere");
  fs::copy_file("/bin/sleep", mDir / "elsewhere" / kWorkingCopy);
  const BackgroundProgram sleeper(mDir / "elsewhere" / kWorkingCopy, {"30"});
  ASSERT_TRUE(WaitFor([] { return IsProcessRunning(kWorkingCopy); }, std::chrono::seconds(5)));
  const ProgramResult run = Run(mApp / "Tandor", {kProduct});
  const ProgramResult waiting = Run(mApp / "Tandor", {"--wait", kProduct});
  EXPECT_EQ(run.Status, 0);
  EXPECT_EQ(waiting.Status, 75);
  EXPECT_NE(waiting.Err.find("already running"), std::string::npos) << waiting.Err;
  EXPECT_FALSE(fs::exists(mApp / kWorkingCopy));
}

}  // namespace
}  // namespace tandor::test
