// The working copy against real servers: the built updater in a temporary prefix and application
// folder, unattended, as a product would start it.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <map>
#include <string>

#include "platform/Prefix.h"
#include "support/FtpServer.h"
#include "support/HttpServer.h"
#include "support/ProgramRun.h"
#include "support/TempDir.h"
#include "support/ZipTools.h"

namespace tandor::test {
namespace {

namespace fs = std::filesystem;

// A program that notes its arguments in <its name>.ran beside itself.
const char* const kRecorder = "#!/bin/sh\nprintf '%s\\n' \"$*\" > \"$0.ran\"\n";

std::string Lines(std::initializer_list<std::string> lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\r\n";
  return text;
}

std::string Entry(int number, const std::map<std::string, std::string>& keys) {
  std::string text = "[File" + std::to_string(number) + "]\r\n";
  for (const auto& [key, value] : keys) text += key + "=" + value + "\r\n";
  return text;
}

class UpdatePassTest : public ::testing::Test {
 protected:
  UpdatePassTest() : mMachine(Prefix::Open(mDir / "prefix")) {
    fs::create_directories(mApp);
    fs::create_directories(mProduct);
    for (const char* name : {"Tandor", "TandorSample"}) {
      fs::copy_file(TANDOR_BINARY, mApp / name);
      fs::permissions(mApp / name, fs::perms(0755));
    }
  }

  void Publish(const std::string& name, const std::string& bytes) {
    WriteFile(mProduct / name, bytes);
  }
  void PublishManifest(const std::string& text) { Publish("Tandor10.ini", text); }

  void Configure(const std::string& method, const std::string& port,
                 const std::string& password = "secret") {
    WriteFile(mApp / "Tandor.ini",
              Lines({"[Tandor]", "Method=" + method, "Address=127.0.0.1", "Port=" + port,
                     "User=tandor", "Password=" + password, "Root=/Harrowin"}));
  }

  ProgramResult RunWorkingCopy() {
    return RunProgram(mApp / "TandorSample", {"Sample"},
                      {{"TANDOR_PREFIX", (mDir / "prefix").string()},
                       {"TANDOR_UNATTENDED", "1"},
                       {"QT_QPA_PLATFORM", "offscreen"}});
  }

  // Three files: a plain one, one under a substitute name, an archive with sub-folders.
  void PublishFirstRelease() {
    Publish("readme.txt", "first release\n");
    Publish("tool.ex_", kRecorder);
    fs::create_directories(mDir / "zipsrc" / "docs" / "deep");
    WriteFile(mDir / "zipsrc" / "docs" / "guide.txt", "guide\n");
    WriteFile(mDir / "zipsrc" / "docs" / "deep" / "note.txt", "note\n");
    RunInfoZip(mDir / "zipsrc", {"-q", "-r", (mProduct / "pack.zip").string(), "docs"});
    PublishManifest(Lines({"[Files]", "Execute=2", "Execute Option=--final"}) +
                    Entry(1, {{"Key", "Readme"},
                              {"Filename", "readme.txt"},
                              {"Realname", "readme.txt"},
                              {"Server Path", "$Root/Sample"},
                              {"Local Path", "$(SystemDrive)\\Sample"},
                              {"Product Version", "1.0"},
                              {"CopyMode", "Normal"}}) +
                    Entry(2, {{"Key", "Tool"},
                              {"Filename", "tool.ex_"},
                              {"Realname", "tool"},
                              {"Server Path", "$Root/Sample"},
                              {"Local Path", "C:\\Sample\\bin"},
                              {"Product Version", "1.0"},
                              {"CopyMode", "Normal"}}) +
                    Entry(3, {{"Key", "Pack"},
                              {"Filename", "pack.zip"},
                              {"Realname", "pack.zip"},
                              {"Server Path", "$Root/Sample"},
                              {"Local Path", "C:\\Sample"},
                              {"Product Version", "1.0"},
                              {"CopyMode", "Normal"},
                              {"Extract", "1"},
                              {"Extract To", ".\\"}}));
  }

  void ExpectFirstReleaseInstalled(const ProgramResult& run) {
    EXPECT_EQ(run.Status, 0) << run.Out << run.Err;
    EXPECT_EQ(ReadFile(mLocal / "readme.txt"), "first release\n");
    EXPECT_EQ(ReadFile(mLocal / "bin" / "tool"), kRecorder);
    EXPECT_FALSE(fs::exists(mLocal / "bin" / "tool.ex_"));
    EXPECT_EQ(ReadFile(mLocal / "docs" / "deep" / "note.txt"), "note\n");
    EXPECT_EQ(ReadFile(mLocal / "docs" / "guide.txt"), "guide\n");
    EXPECT_NE(run.Out.find("Upgrade Sample by"), std::string::npos) << run.Out;
    EXPECT_NE(run.Out.find("3개의 파일을 다운로드 합니다."), std::string::npos) << run.Out;
    EXPECT_NE(run.Out.find("pack.zip 파일 압축풀기 완료"), std::string::npos) << run.Out;
    // One log line per download, each ending in its elapsed seconds.
    const std::string log = ReadFile(mApp / "Err.log");
    int lines = 0;
    for (std::size_t at = log.find("\r\n"); at != std::string::npos; at = log.find("\r\n", at + 2))
      ++lines;
    EXPECT_EQ(lines, 3) << log;
    EXPECT_EQ(log.rfind("readme.txt 파일 다운로드 완료 (", 0), 0u) << log;
    const std::string record = ReadFile(mLocal / "Version.ini");
    EXPECT_NE(record.find("[Tool]\r\nFilename=tool\r\nLocal Path=C:\\Sample\\bin\r\n"
                          "File Version=\r\nProduct Version=1.0\r\n"),
              std::string::npos)
        << record;
    // The final program (entry 2) ran with its options.
    EXPECT_TRUE(
        WaitFor([&] { return fs::exists(mLocal / "bin" / "tool.ran"); }, std::chrono::seconds(10)));
    EXPECT_EQ(ReadFile(mLocal / "bin" / "tool.ran"), "--final\n");
    // The connection keys were consumed.
    EXPECT_EQ(ReadFile(mApp / "Tandor.ini").find("Port=\r\n") != std::string::npos, true);
  }

  TempDir mDir;
  Prefix mMachine;
  fs::path mApp = mDir / "prefix" / "drive_c" / "Client";
  fs::path mServer = mDir / "srv";
  fs::path mProduct = mServer / "Harrowin" / "Sample";
  fs::path mLocal = mDir / "prefix" / "drive_c" / "Sample";
};

TEST_F(UpdatePassTest, FirstInstallOverFtpThenNothingToDo) {
  FtpServer server(mServer);
  PublishFirstRelease();
  Configure("FTP", server.PortText());
  ExpectFirstReleaseInstalled(RunWorkingCopy());

  // Second pass: nothing to install, nothing shown, an empty log, the record untouched.
  fs::remove(mLocal / "bin" / "tool.ran");
  struct stat before {};
  ::stat((mLocal / "Version.ini").c_str(), &before);
  Configure("FTP", server.PortText());
  ProgramResult second = RunWorkingCopy();
  EXPECT_EQ(second.Status, 0) << second.Out << second.Err;
  EXPECT_EQ(second.Out.find("다운로드 합니다"), std::string::npos) << second.Out;
  EXPECT_EQ(ReadFile(mApp / "Err.log"), "");
  struct stat after {};
  ::stat((mLocal / "Version.ini").c_str(), &after);
  EXPECT_EQ(before.st_ino, after.st_ino);
  EXPECT_EQ(before.st_mtim.tv_nsec, after.st_mtim.tv_nsec);
  // The final program starts at every pass.
  EXPECT_TRUE(
      WaitFor([&] { return fs::exists(mLocal / "bin" / "tool.ran"); }, std::chrono::seconds(10)));

  // An upgrade of one entry installs that entry alone.
  Publish("readme.txt", "second release\n");
  std::string manifest = ReadFile(mProduct / "Tandor10.ini");
  manifest.replace(manifest.find("Product Version=1.0"), 19, "Product Version=1.1");
  PublishManifest(manifest);
  Configure("FTP", server.PortText());
  ProgramResult third = RunWorkingCopy();
  EXPECT_EQ(third.Status, 0) << third.Out << third.Err;
  EXPECT_NE(third.Out.find("1개의 파일을 다운로드 합니다."), std::string::npos) << third.Out;
  EXPECT_EQ(ReadFile(mLocal / "readme.txt"), "second release\n");
  EXPECT_NE(ReadFile(mLocal / "Version.ini")
                .find("[Readme]\r\nFilename=readme.txt\r\n"
                      "Local Path=C:\\Sample\r\nFile Version=\r\n"
                      "Product Version=1.1\r\n"),
            std::string::npos);
}

TEST_F(UpdatePassTest, FirstInstallOverHttp) {
  HttpServer server(mServer);
  PublishFirstRelease();
  Configure("http", server.PortText());
  ProgramResult run = RunWorkingCopy();
  ExpectFirstReleaseInstalled(run);
  EXPECT_NE(run.Out.find("Upgrade Sample by http"), std::string::npos);
  EXPECT_NE(server.RequestLog().find("/Harrowin/Sample/Tandor10.ini"), std::string::npos);
}

TEST_F(UpdatePassTest, ConnectionFailure) {
  Configure("FTP", "1");  // nothing listens on port 1
  ProgramResult run = RunWorkingCopy();
  EXPECT_EQ(run.Status, 2) << run.Out << run.Err;
  const std::string line = "ftp://127.0.0.1에 연결 중 에러가 발생하였습니다.";
  EXPECT_EQ(ReadFile(mApp / "Err.log"), line + "\r\n");
  EXPECT_NE(run.Out.find("Upgrade Sample by FTP\n" + line + "\n"), std::string::npos) << run.Out;
}

TEST_F(UpdatePassTest, ManifestMissingOnTheServer) {
  FtpServer server(mServer);
  Configure("FTP", server.PortText());
  ProgramResult run = RunWorkingCopy();
  EXPECT_EQ(run.Status, 2) << run.Out << run.Err;
  EXPECT_NE(run.Err.find("The server has no file /Harrowin/Sample/Tandor10.ini"), std::string::npos)
      << run.Err;  // the message box
  EXPECT_EQ(ReadFile(mApp / "Err.log"),
            "Error:The server has no file /Harrowin/Sample/Tandor10.ini (or it is empty)\r\n");
  EXPECT_FALSE(fs::exists(mLocal / "Version.ini"));
}

TEST_F(UpdatePassTest, EntryFailuresAreReportedAndThePassGoesOn) {
  FtpServer server(mServer);
  Publish("broken.zip", "this is no zip archive");
  Publish("final", kRecorder);
  PublishManifest(Lines({"[Files]", "Execute=1"}) +
                  Entry(1, {{"Key", "Broken"},
                            {"Filename", "broken.zip"},
                            {"Realname", "broken.zip"},
                            {"Server Path", "$Root/Sample"},
                            {"Local Path", "C:\\Sample"},
                            {"CopyMode", "Force"},
                            {"Extract", "1"}}) +
                  Entry(2, {{"Key", "Missing"},
                            {"Filename", "missing.txt"},
                            {"Realname", "missing.txt"},
                            {"Server Path", "$Root/Sample"},
                            {"Local Path", "C:\\Sample"},
                            {"CopyMode", "Normal"}}) +
                  Entry(3, {{"Key", "Final"},
                            {"Filename", "final"},
                            {"Realname", "final"},
                            {"Server Path", "$Root/Sample"},
                            {"Local Path", "C:\\Sample"},
                            {"CopyMode", "Normal"}}));
  Configure("FTP", server.PortText());
  ProgramResult run = RunWorkingCopy();
  EXPECT_EQ(run.Status, 1) << run.Out << run.Err;
  const std::string log = ReadFile(mApp / "Err.log");
  EXPECT_NE(log.find("Error:broken.zip의 압축풀기 실패 (broken.zip)\r\n"), std::string::npos)
      << log;
  EXPECT_NE(log.find("(missing.txt)\r\n"), std::string::npos) << log;
  EXPECT_NE(log.find("final 파일 다운로드 완료"), std::string::npos) << log;
  EXPECT_NE(run.Err.find("관리자에게 문의하세요!"), std::string::npos) << run.Err;
  // Entry 1 failed in its handler: the final program it names is not started.
  EXPECT_FALSE(fs::exists(mLocal / "final.ran"));
  // Only what was installed is recorded: the failed entries are tried again next time.
  const std::string record = ReadFile(mLocal / "Version.ini");
  EXPECT_EQ(record.find("[Broken]"), std::string::npos) << record;
  EXPECT_EQ(record.find("[Missing]"), std::string::npos) << record;
  EXPECT_NE(record.find("[Final]"), std::string::npos) << record;
}

TEST_F(UpdatePassTest, StartsWaitsRegistersAndPromptsForReboot) {
  FtpServer server(mServer);
  WriteFile(mMachine.ToNative("C:\\Windows\\System32\\REGSVR32.exe"), kRecorder);
  fs::permissions(mMachine.ToNative("C:\\Windows\\System32\\REGSVR32.exe"), fs::perms(0755));
  Publish("setup", kRecorder);
  Publish("comp.dll", "a component");
  Publish("MDAC28", kRecorder);
  Publish("after.txt", "after");
  PublishManifest(Lines({"[Files]"}) +
                  Entry(1, {{"Key", "Setup"},
                            {"Filename", "setup"},
                            {"Realname", "setup"},
                            {"Server Path", "$Root/Sample"},
                            {"Local Path", "C:\\Sample"},
                            {"CopyMode", "Normal"},
                            {"Execute", "1"},
                            {"Execute Option", "/quiet $(AppPath)"},
                            {"Wait", "1"}}) +
                  Entry(2, {{"Key", "Comp"},
                            {"Filename", "comp.dll"},
                            {"Realname", "comp.dll"},
                            {"Server Path", "$Root/Sample"},
                            {"Local Path", "C:\\Sample"},
                            {"CopyMode", "Normal"},
                            {"Register", "$(DLLSelfRegister)"}}) +
                  Entry(3, {{"Key", "Mdac"},
                            {"Filename", "MDAC28"},
                            {"Realname", "MDAC28"},
                            {"Server Path", "$Root/Sample"},
                            {"Local Path", "C:\\Sample"},
                            {"File Version", "2.80.1022.0"},
                            {"CopyMode", "Force"},
                            {"Execute", "1"},
                            {"Wait", "1"}}) +
                  Entry(4, {{"Key", "After"},
                            {"Filename", "after.txt"},
                            {"Realname", "after.txt"},
                            {"Server Path", "$Root/Sample"},
                            {"Local Path", "C:\\Sample"},
                            {"CopyMode", "Force"}}));
  Configure("FTP", server.PortText());
  ProgramResult run = RunWorkingCopy();
  // The reboot prompt takes its default answer, OK, which ends the updater.
  EXPECT_EQ(run.Status, 0) << run.Out << run.Err;
  EXPECT_NE(run.Out.find("setup을 실행\nsetup이 종료될때 까지 기다리는 중\nsetup종료\n"),
            std::string::npos)
      << run.Out;
  EXPECT_EQ(ReadFile(mLocal / "setup.ran"), "/quiet C:\\Client\n");
  EXPECT_TRUE(WaitFor(
      [&] { return fs::exists(mMachine.ToNative("C:\\Windows\\System32\\REGSVR32.exe.ran")); },
      std::chrono::seconds(10)));
  EXPECT_EQ(ReadFile(mMachine.ToNative("C:\\Windows\\System32\\REGSVR32.exe.ran")),
            "/S C:\\Sample\\comp.dll\n");
  EXPECT_NE(run.Err.find("Sample의 정상적인 사용을 위해 컴퓨터를 리부팅해야 합니다."),
            std::string::npos)
      << run.Err;
  // OK ended the pass: the later entry is neither installed nor recorded.
  EXPECT_FALSE(fs::exists(mLocal / "after.txt"));
  const std::string record = ReadFile(mLocal / "Version.ini");
  EXPECT_NE(record.find("[Mdac]"), std::string::npos) << record;
  EXPECT_EQ(record.find("[After]"), std::string::npos) << record;
}

TEST_F(UpdatePassTest, LauncherStartsTheWorkingCopyWhichRunsThePass) {
  FtpServer server(mServer);
  Publish("readme.txt", "hello\n");
  PublishManifest(Lines({"[Files]"}) + Entry(1, {{"Key", "Readme"},
                                                 {"Filename", "readme.txt"},
                                                 {"Realname", "readme.txt"},
                                                 {"Server Path", "$Root/Sample"},
                                                 {"Local Path", "C:\\Sample"},
                                                 {"CopyMode", "Normal"}}));
  Configure("FTP", server.PortText());
  fs::remove(mApp / "TandorSample");
  ProgramResult run =
      RunProgram(mApp / "Tandor", {"Sample"},
                 {{"TANDOR_PREFIX", (mDir / "prefix").string()}, {"TANDOR_UNATTENDED", "1"}});
  EXPECT_EQ(run.Status, 0) << run.Out << run.Err;
  EXPECT_TRUE(ReadFile(mApp / "TandorSample") == ReadFile(mApp / "Tandor"));
  EXPECT_TRUE(WaitFor([&] { return ReadFile(mLocal / "readme.txt") == "hello\n"; },
                      std::chrono::seconds(30)));
  // The working copy has consumed the keys; it ends on its own.
  EXPECT_TRUE(WaitFor(
      [&] { return ReadFile(mLocal / "Version.ini").find("[Readme]") != std::string::npos; },
      std::chrono::seconds(30)));
}

TEST_F(UpdatePassTest, UpdaterReplacesItselfAndAFreshPassRuns) {
  FtpServer server(mServer);
  // A newer updater: the same program whose version strings say 1.00.0211.
  std::string newer = ReadFile(TANDOR_BINARY);
  const auto utf16 = [](const std::string& ascii) {
    std::string out;
    for (char c : ascii) out += {c, '\0'};
    return out;
  };
  const std::string oldVersion = utf16("1.00.0210"), newVersion = utf16("1.00.0211");
  int replaced = 0;
  for (std::size_t at = newer.find(oldVersion); at != std::string::npos;
       at = newer.find(oldVersion, at)) {
    newer.replace(at, newVersion.size(), newVersion);
    ++replaced;
  }
  ASSERT_GT(replaced, 0);
  Publish("Tandor", newer);
  Publish("late.txt", "installed by the fresh pass\n");
  PublishManifest(Lines({"[Files]"}) +
                  Entry(1, {{"Key", "Updater"},
                            {"Filename", "Tandor"},
                            {"Realname", "Tandor"},
                            {"Server Path", "$Root/Sample"},
                            {"Local Path", "$(AppPath)"},
                            {"Product Version", "1.00.0211"},
                            {"CopyMode", "Normal"}}) +
                  Entry(2, {{"Key", "Late"},
                            {"Filename", "late.txt"},
                            {"Realname", "late.txt"},
                            {"Server Path", "$Root/Sample"},
                            {"Local Path", "C:\\Sample"},
                            {"CopyMode", "Normal"}}) +
                  Entry(3, {{"Key", "Gone"},
                            {"Filename", "gone.txt"},
                            {"Realname", "gone.txt"},
                            {"Server Path", "$Root/Sample"},
                            {"Local Path", "C:\\Sample"},
                            {"CopyMode", "Normal"}}));
  Configure("FTP", server.PortText());
  // The fresh pass reads the settings again: keep them for it.
  fs::permissions(mApp / "Tandor.ini", fs::perms::owner_read);
  // Through the launcher, waiting: the status is the fresh pass's (its missing file fails it),
  // not that of the pass that handed over nor of the new launcher.
  ProgramResult run =
      RunProgram(mApp / "Tandor", {"--wait", "Sample"},
                 {{"TANDOR_PREFIX", (mDir / "prefix").string()}, {"TANDOR_UNATTENDED", "1"}});
  EXPECT_EQ(run.Status, 1) << run.Out << run.Err;
  EXPECT_TRUE(ReadFile(mApp / "Tandor") == newer);
  // The new launcher refreshed the working copy and started it; its pass installed the rest.
  EXPECT_TRUE(fs::exists(mLocal / "late.txt"));
  EXPECT_TRUE(ReadFile(mApp / "TandorSample") == newer);
  EXPECT_NE(ReadFile(mLocal / "Version.ini").find("[Late]"), std::string::npos);
  // The updater entry is recorded before the pass hands over.
  EXPECT_NE(ReadFile(mLocal / "Version.ini").find("[Updater]\r\nFilename=Tandor\r\n"),
            std::string::npos);
}

}  // namespace
}  // namespace tandor::test
