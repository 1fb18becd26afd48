// Starts the built updater in a fresh application folder and looks at what it leaves behind.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/ProgramRun.h"
#include "support/TempDir.h"

namespace tandor::test {
namespace {

namespace fs = std::filesystem;

class Startup : public ::testing::Test {
 protected:
  Startup() {
    fs::create_directories(mApp);
    fs::copy_file(TANDOR_BINARY, mApp / "Tandor");
  }
  int RunUpdater(const std::vector<std::string>& args) {
    return RunProgram(mApp / "Tandor", args,
                      {{"TANDOR_PREFIX", mPrefix.string()}, {"TANDOR_UNATTENDED", "1"}})
        .Status;
  }

  TempDir mDir;
  fs::path mApp = mDir / "prefix" / "drive_c" / "Client";
  fs::path mPrefix = mDir / "prefix";
};

TEST_F(Startup, NoArgumentEndsWithoutTouchingAnything) {
  EXPECT_EQ(RunUpdater({}), 0);
  EXPECT_FALSE(fs::exists(mApp / "Tandor.ini"));
  EXPECT_FALSE(fs::exists(mPrefix / "registry.ini"));
  EXPECT_FALSE(fs::exists(mApp / "Err.log"));
}

TEST_F(Startup, OperatorSwitchesReadSettingsWithoutConsumingThem) {
  const std::string text = "[Tandor]\r\nAddress=10.0.0.1\r\n";
  WriteFile(mApp / "Tandor.ini", text);
  EXPECT_EQ(RunUpdater({"$net"}), 0);
  EXPECT_EQ(ReadFile(mApp / "Tandor.ini"), text);
  EXPECT_TRUE(fs::exists(mPrefix / "registry.ini"));
}

}  // namespace
}  // namespace tandor::test
