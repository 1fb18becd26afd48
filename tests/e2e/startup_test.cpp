// The launcher at start: options, failures it must report, and an installation in a folder it
// cannot write.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "support/ProgramRun.h"
#include "support/TempDir.h"

namespace tandor::test {
namespace {

namespace fs = std::filesystem;

using Environment = std::map<std::string, std::string>;

// A product name of these tests' own, so that no working copy running elsewhere interferes.
constexpr const char* kProduct = "Wren";
constexpr const char* kWorkingCopy = "TandorWren";

// An address where nothing listens: the pass fails to connect at once.
const char* const kDeadServer = "[Tandor]\r\nAddress=127.0.0.1\r\nPort=1\r\n";
const char* const kNoConnection =
    "ftp://127.0.0.1에 연결 중 에러가 발생하였습니다.\nInternetConnect error code: 12029";

class Startup : public ::testing::Test {
 protected:
  Startup() {
    fs::create_directories(mApp);
    fs::copy_file(TANDOR_BINARY, mApp / "Tandor");
    // Other users must reach the folders the tests hand to them.
    fs::permissions(mDir.Path(), fs::perms(0755));
  }
  ProgramResult Run(const fs::path& program, const std::vector<std::string>& args,
                    Environment extra = {}) {
    Environment env{{"TANDOR_PREFIX", mPrefix.string()}, {"TANDOR_UNATTENDED", "1"}};
    for (const auto& [name, value] : extra) env[name] = value;
    return RunProgram(program, args, env, std::chrono::seconds(60));
  }
  // Runs as a user for whom folders of others are read-only: root itself writes anywhere, so
  // root runs it as nobody and hands the folders that user may write over to it.
  ProgramResult RunAsUser(const fs::path& program, std::vector<std::string> args,
                          const std::vector<fs::path>& writable) {
    if (::getuid() != 0) return Run(program, args);
    for (const fs::path& folder : writable) {
      fs::create_directories(folder);
      for (const auto& entry : fs::recursive_directory_iterator(folder))
        ::lchown(entry.path().c_str(), kNobody, kNobody);
      ::lchown(folder.c_str(), kNobody, kNobody);
    }
    const std::string id = std::to_string(kNobody);
    args.insert(args.begin(),
                {"--reuid=" + id, "--regid=" + id, "--clear-groups", program.string()});
    return Run("/usr/bin/setpriv", args);
  }

  static constexpr int kNobody = 65534;
  TempDir mDir;
  fs::path mPrefix = mDir / "prefix";
  fs::path mApp = mPrefix / "drive_c" / "Client";
};

TEST_F(Startup, OptionsAreNeverProductNames) {
  struct Case {
    std::vector<std::string> args;
    int status;
    const char* out;
    const char* err;
  } cases[] = {
      {{"--help"}, 0, "Usage: Tandor <product>", ""},
      {{"-h"}, 0, "  64  usage error\n", ""},
      {{"--version"}, 0, "Tandor 1.00.0210\n", ""},
      {{"--bogus"}, 64, "", "Tandor: unknown option --bogus\nUsage: Tandor <product>"},
      {{"--wait"}, 64, "", "Tandor: --wait needs a product name\n"},
      {{"--wait", "--help"}, 64, "", "--wait needs a product name"},
  };
  for (const Case& c : cases) {
    ProgramResult run = Run(mApp / "Tandor", c.args);
    EXPECT_EQ(run.Status, c.status) << c.args[0];
    EXPECT_NE(run.Out.find(c.out), std::string::npos) << c.args[0] << ": " << run.Out;
    EXPECT_NE(run.Err.find(c.err), std::string::npos) << c.args[0] << ": " << run.Err;
  }
  // Nothing was taken for a product: no working copy, no settings, no prefix.
  EXPECT_EQ(std::distance(fs::directory_iterator(mApp), fs::directory_iterator()), 1);
  EXPECT_FALSE(fs::exists(mPrefix / "registry.ini"));
}

TEST_F(Startup, FailuresAtStartSayWhy) {
  WriteFile(mDir / "a-file", "");
  struct Case {
    const char* what;
    Environment env;
    int status;
    std::string ProgramResult::*stream;
    std::string text;
    bool consumed;
  } cases[] = {
      {"prefix under a file",
       {{"TANDOR_PREFIX", (mDir / "a-file" / "prefix").string()}},
       73,
       &ProgramResult::Err,
       "[Tandor] 프리픽스 폴더를 만들 수 없습니다.\n",
       false},
      {"unattended connection failure", {}, 2, &ProgramResult::Out, kNoConnection, true},
      // A display nobody answers: the run goes unattended instead of aborting in Qt.
      {"dead display",
       {{"DISPLAY", ":87"},
        {"WAYLAND_DISPLAY", ""},
        {"TANDOR_UNATTENDED", "0"},
        {"QT_QPA_PLATFORM", ""}},
       2,
       &ProgramResult::Out,
       kNoConnection,
       true},
  };
  for (const Case& c : cases) {
    WriteFile(mApp / "Tandor.ini", kDeadServer);
    ProgramResult run = Run(mApp / "Tandor", {"--wait", kProduct}, c.env);
    EXPECT_EQ(run.Status, c.status) << c.what << ": " << run.Out << run.Err;
    EXPECT_NE((run.*c.stream).find(c.text), std::string::npos) << c.what << ": " << run.*c.stream;
    EXPECT_EQ(ReadFile(mApp / "Tandor.ini") != kDeadServer, c.consumed) << c.what;
  }
  EXPECT_NE(ReadFile(mApp / "Err.log").find("ftp://127.0.0.1"), std::string::npos);
}

TEST_F(Startup, LauncherThatCannotWriteItsWorkingCopy) {
  // Installed in a folder the user cannot write: the launcher runs its copy in the prefix.
  const fs::path bin = mDir / "bin";
  fs::create_directories(bin);
  fs::copy_file(TANDOR_BINARY, bin / "Tandor");
  WriteFile(bin / "Tandor.ini", kDeadServer);  // taken along the first time
  fs::permissions(bin, fs::perms(0555));
  const fs::path system = mPrefix / "drive_c" / "Tandor";
  ProgramResult run = RunAsUser(bin / "Tandor", {"--wait", kProduct}, {mPrefix});
  EXPECT_EQ(run.Status, 2) << run.Out << run.Err;
  EXPECT_NE(run.Out.find(kNoConnection), std::string::npos) << run.Out;
  EXPECT_TRUE(ReadFile(system / "Tandor") == ReadFile(bin / "Tandor"));
  EXPECT_TRUE(ReadFile(system / kWorkingCopy) == ReadFile(bin / "Tandor"));
  EXPECT_NE(ReadFile(system / "Err.log").find("ftp://127.0.0.1"), std::string::npos);
  EXPECT_EQ(std::distance(fs::directory_iterator(bin), fs::directory_iterator()), 2);
  EXPECT_EQ(ReadFile(bin / "Tandor.ini"), kDeadServer);

  // A working copy the user may not overwrite, in a folder the user may write: not "in use",
  // a failure to report.
  WriteFile(mApp / kWorkingCopy, "somebody else's");
  fs::permissions(mApp / kWorkingCopy, fs::perms(0444));
  run = RunAsUser(mApp / "Tandor", {kProduct}, {mApp});
  EXPECT_EQ(run.Status, 1) << run.Err;
  EXPECT_NE(run.Err.find("'70' 런타임 오류가 발생하였습니다.:\n\nPermission denied"),
            std::string::npos)
      << run.Err;
}

}  // namespace
}  // namespace tandor::test
