// Starts the built updater in a fresh application folder and looks at what it leaves behind.

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "support/TempDir.h"

namespace tandor::test {
namespace {

namespace fs = std::filesystem;

// Runs `program` with `args` in a clean environment whose prefix is `prefix`; returns the exit
// status.
int Run(const fs::path& program, const std::vector<std::string>& args, const fs::path& prefix) {
  pid_t pid = fork();
  if (pid == 0) {
    std::vector<char*> argv;
    std::string name = program.string();
    argv.push_back(name.data());
    std::vector<std::string> copies(args);
    for (std::string& a : copies) argv.push_back(a.data());
    argv.push_back(nullptr);
    setenv("TANDOR_PREFIX", prefix.c_str(), 1);
    setenv("TANDOR_UNATTENDED", "1", 1);
    execv(name.c_str(), argv.data());
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class Startup : public ::testing::Test {
 protected:
  Startup() {
    fs::create_directories(mApp);
    fs::copy_file(TANDOR_BINARY, mApp / "Tandor");
  }
  TempDir mDir;
  fs::path mApp = mDir / "prefix" / "drive_c" / "Client";
  fs::path mPrefix = mDir / "prefix";
};

TEST_F(Startup, NoArgumentEndsWithoutTouchingAnything) {
  EXPECT_EQ(Run(mApp / "Tandor", {}, mPrefix), 0);
  EXPECT_FALSE(fs::exists(mApp / "Tandor.ini"));
  EXPECT_FALSE(fs::exists(mPrefix / "registry.ini"));
  EXPECT_FALSE(fs::exists(mApp / "Err.log"));
}

TEST_F(Startup, OperatorSwitchesReadSettingsWithoutConsumingThem) {
  const std::string text = "[Tandor]\r\nAddress=10.0.0.1\r\n";
  WriteFile(mApp / "Tandor.ini", text);
  Run(mApp / "Tandor", {"$net"}, mPrefix);
  EXPECT_EQ(ReadFile(mApp / "Tandor.ini"), text);
  EXPECT_TRUE(fs::exists(mPrefix / "registry.ini"));
}

}  // namespace
}  // namespace tandor::test
