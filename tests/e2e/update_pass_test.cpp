// The working copy against a real FTP server: the built updater in a temporary prefix and
// application folder, unattended, as a product would start it. One pass per exit status (the
// first install followed by an idle pass for 0), and the updater replacing itself; the pass's
// logic is tested in process.

#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>

#include "platform/Prefix.h"
#include "support/FtpServer.h"
#include "support/ProgramRun.h"
#include "support/TempDir.h"
#include "support/XvfbServer.h"
#include "support/ZipTools.h"

namespace tandor::test {
namespace {

namespace fs = std::filesystem;

// A product name of these tests' own: a working copy of another product left running elsewhere
// on the machine must not make the launcher stand aside.
const std::string kProduct = "Kestrel";
// A program that notes its arguments in <its name>.ran beside itself.
const char* const kRecorder = "#!/bin/sh\nprintf '%s\\n' \"$*\" > \"$0.ran\"\n";

std::string Lines(std::initializer_list<std::string> lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\r\n";
  return text;
}

// An entry of the product's server folder, installed into C:\Kestrel; `keys` adds or overrides.
std::string Entry(int number, const std::string& key, const std::string& filename,
                  std::map<std::string, std::string> keys = {}) {
  std::map<std::string, std::string> all = {{"Key", key},
                                            {"Filename", filename},
                                            {"Realname", filename},
                                            {"Server Path", "$Root/" + kProduct},
                                            {"Local Path", "C:\\" + kProduct},
                                            {"CopyMode", "Normal"}};
  for (auto& [name, value] : keys) all[name] = value;
  std::string text = "[File" + std::to_string(number) + "]\r\n";
  for (const auto& [name, value] : all) text += name + "=" + value + "\r\n";
  return text;
}

class UpdatePassTest : public ::testing::Test {
 protected:
  UpdatePassTest() : mMachine(Prefix::Open(mDir / "prefix")) {
    fs::create_directories(mApp);
    fs::create_directories(mProduct);
    for (const std::string& name : {std::string("Tandor"), "Tandor" + kProduct}) {
      fs::copy_file(TANDOR_BINARY, mApp / name);
      fs::permissions(mApp / name, fs::perms(0755));
    }
  }

  void Publish(const std::string& name, const std::string& bytes) {
    WriteFile(mProduct / name, bytes);
  }
  void PublishManifest(const std::string& text) { Publish("Tandor10.ini", text); }

  void Configure(const std::string& port) {
    WriteFile(mApp / "Tandor.ini",
              Lines({"[Tandor]", "Method=FTP", "Address=127.0.0.1", "Port=" + port, "User=tandor",
                     "Password=secret", "Root=/Harrowin"}));
  }

  ProgramResult RunWorkingCopy() {
    return RunProgram(mApp / ("Tandor" + kProduct), {kProduct},
                      {{"TANDOR_PREFIX", (mDir / "prefix").string()},
                       {"TANDOR_UNATTENDED", "1"},
                       {"QT_QPA_PLATFORM", "offscreen"}});
  }

  bool Ran(const fs::path& program) {
    fs::path mark = program;
    mark += ".ran";
    return WaitFor([&] { return fs::exists(mark); }, std::chrono::seconds(10));
  }

  TempDir mDir;
  Prefix mMachine;
  fs::path mApp = mDir / "prefix" / "drive_c" / "Client";
  fs::path mServer = mDir / "srv";
  fs::path mProduct = mServer / "Harrowin" / kProduct;
  fs::path mLocal = mDir / "prefix" / "drive_c" / kProduct;
};

TEST_F(UpdatePassTest, FirstInstallThenNothingToDo) {
  FtpServer server(mServer);
  const fs::path regsvr32 = mMachine.ToNative("C:\\Windows\\System32\\REGSVR32.exe");
  WriteFile(regsvr32, kRecorder);
  fs::permissions(regsvr32, fs::perms(0755));
  Publish("readme.txt", "first release\n");
  Publish("tool.ex_", kRecorder);
  Publish("setup", kRecorder);
  Publish("comp.dll", "a component");
  fs::create_directories(mDir / "zipsrc" / "docs" / "deep");
  WriteFile(mDir / "zipsrc" / "docs" / "deep" / "note.txt", "note\n");
  RunInfoZip(mDir / "zipsrc", {"-q", "-r", (mProduct / "pack.zip").string(), "docs"});
  PublishManifest(
      Lines({"[Files]", "Execute=2", "Execute Option=--final"}) +
      Entry(1, "Readme", "readme.txt", {{"Local Path", "$(SystemDrive)\\" + kProduct}}) +
      Entry(2, "Tool", "tool.ex_",
            {{"Realname", "tool"},
             {"Local Path", "C:\\" + kProduct + "\\bin"},
             {"Product Version", "1.0"}}) +
      Entry(3, "Pack", "pack.zip", {{"Extract", "1"}, {"Extract To", ".\\"}}) +
      Entry(4, "Setup", "setup",
            {{"Execute", "1"}, {"Execute Option", "/quiet $(AppPath)"}, {"Wait", "1"}}) +
      Entry(5, "Comp", "comp.dll", {{"Register", "$(DLLSelfRegister)"}}));
  Configure(server.PortText());
  ProgramResult run = RunWorkingCopy();

  EXPECT_EQ(run.Status, 0) << run.Out << run.Err;
  EXPECT_EQ(ReadFile(mLocal / "readme.txt"), "first release\n");
  EXPECT_EQ(ReadFile(mLocal / "bin" / "tool"), kRecorder);
  EXPECT_FALSE(fs::exists(mLocal / "bin" / "tool.ex_"));
  EXPECT_EQ(ReadFile(mLocal / "docs" / "deep" / "note.txt"), "note\n");
  EXPECT_NE(run.Out.find("pack.zip 파일 압축풀기 완료"), std::string::npos) << run.Out;
  EXPECT_NE(run.Out.find("setup을 실행\nsetup이 종료될때 까지 기다리는 중\nsetup종료\n"),
            std::string::npos)
      << run.Out;
  EXPECT_EQ(ReadFile(mLocal / "setup.ran"), "/quiet C:\\Client\n");
  ASSERT_TRUE(Ran(regsvr32));
  EXPECT_EQ(ReadFile(regsvr32.string() + ".ran"), "/S C:\\" + kProduct + "\\comp.dll\n");
  // One log line per download.
  const std::string log = ReadFile(mApp / "Err.log");
  EXPECT_EQ(log.rfind("readme.txt 파일 다운로드 완료 (", 0), 0u) << log;
  EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 5) << log;
  // The final program ran with its options; the connection keys were consumed.
  ASSERT_TRUE(Ran(mLocal / "bin" / "tool"));
  EXPECT_EQ(ReadFile(mLocal / "bin" / "tool.ran"), "--final\n");
  EXPECT_NE(ReadFile(mApp / "Tandor.ini").find("Port=\r\n"), std::string::npos);

  // Second pass: nothing to install, nothing shown, an empty log, and the final program starts
  // again.
  fs::remove(mLocal / "bin" / "tool.ran");
  Configure(server.PortText());
  ProgramResult second = RunWorkingCopy();
  EXPECT_EQ(second.Status, 0) << second.Out << second.Err;
  EXPECT_EQ(second.Out.find("다운로드 합니다"), std::string::npos) << second.Out;
  EXPECT_EQ(ReadFile(mApp / "Err.log"), "");
  EXPECT_TRUE(Ran(mLocal / "bin" / "tool"));
}

TEST_F(UpdatePassTest, EntryFailuresAreReportedAndThePassGoesOn) {
  FtpServer server(mServer);
  Publish("broken.zip", "this is no zip archive");
  Publish("final", kRecorder);
  PublishManifest(Lines({"[Files]", "Execute=1"}) +
                  Entry(1, "Broken", "broken.zip", {{"CopyMode", "Force"}, {"Extract", "1"}}) +
                  Entry(2, "Missing", "missing.txt") + Entry(3, "Final", "final"));
  Configure(server.PortText());
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
  EXPECT_NE(record.find("[Final]"), std::string::npos) << record;
}

TEST_F(UpdatePassTest, UnreachableServerEndsWithStatusTwo) {
  Configure("1");  // nothing listens on port 1
  ProgramResult run = RunWorkingCopy();
  EXPECT_EQ(run.Status, 2) << run.Out << run.Err;
  const std::string line = "ftp://127.0.0.1에 연결 중 에러가 발생하였습니다.";
  EXPECT_EQ(ReadFile(mApp / "Err.log"), line + "\r\n");
  EXPECT_NE(run.Out.find("Upgrade " + kProduct + " by FTP\n" + line + "\n"), std::string::npos)
      << run.Out;
}

// A program's main window, open on a private X server, refuses its entry and the pass.
TEST_F(UpdatePassTest, OpenProgramWindowEndsWithStatusThree) {
  if (!XvfbServer::Installed()) GTEST_SKIP() << "Xvfb is not installed";
  XvfbServer display;
  std::unique_ptr<xcb_connection_t, decltype(&xcb_disconnect)> x(xcb_connect(nullptr, nullptr),
                                                                 &xcb_disconnect);
  ASSERT_EQ(xcb_connection_has_error(x.get()), 0);
  const xcb_window_t window = xcb_generate_id(x.get());
  xcb_create_window(x.get(), XCB_COPY_FROM_PARENT, window,
                    xcb_setup_roots_iterator(xcb_get_setup(x.get())).data->root, 0, 0, 100, 100, 0,
                    XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, 0, nullptr);
  const std::string title = kProduct + " Viewer";
  xcb_change_property(x.get(), XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8,
                      static_cast<std::uint32_t>(title.size()), title.data());
  xcb_map_window(x.get(), window);
  std::free(xcb_get_input_focus_reply(x.get(), xcb_get_input_focus(x.get()), nullptr));

  FtpServer server(mServer);
  Publish("viewer", "new viewer");
  PublishManifest(Lines({"[Files]"}) + Entry(1, "Viewer", "viewer", {{"Caption", title}}));
  Configure(server.PortText());
  ProgramResult run = RunWorkingCopy();
  EXPECT_EQ(run.Status, 3) << run.Out << run.Err;
  EXPECT_NE(run.Err.find(title + "이(가) 이미 실행중이어서 다운로드를 진행할 수 없습니다."),
            std::string::npos)
      << run.Err;
  EXPECT_FALSE(fs::exists(mLocal / "viewer"));
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
                  Entry(1, "Updater", "Tandor",
                        {{"Local Path", "$(AppPath)"}, {"Product Version", "1.00.0211"}}) +
                  Entry(2, "Late", "late.txt") + Entry(3, "Gone", "gone.txt"));
  Configure(server.PortText());
  // The fresh pass reads the settings again: keep them for it.
  fs::permissions(mApp / "Tandor.ini", fs::perms::owner_read);
  // Through the launcher, waiting: the status is the fresh pass's (its missing file fails it),
  // not that of the pass that handed over nor of the new launcher.
  ProgramResult run =
      RunProgram(mApp / "Tandor", {"--wait", kProduct},
                 {{"TANDOR_PREFIX", (mDir / "prefix").string()}, {"TANDOR_UNATTENDED", "1"}});
  EXPECT_EQ(run.Status, 1) << run.Out << run.Err;
  EXPECT_TRUE(ReadFile(mApp / "Tandor") == newer);
  // The new launcher refreshed the working copy and started it; its pass installed the rest.
  EXPECT_TRUE(fs::exists(mLocal / "late.txt"));
  EXPECT_TRUE(ReadFile(mApp / ("Tandor" + kProduct)) == newer);
  EXPECT_NE(ReadFile(mLocal / "Version.ini").find("[Late]"), std::string::npos);
  // The updater entry is recorded before the pass hands over.
  EXPECT_NE(ReadFile(mLocal / "Version.ini").find("[Updater]\r\nFilename=Tandor\r\n"),
            std::string::npos);
}

}  // namespace
}  // namespace tandor::test
