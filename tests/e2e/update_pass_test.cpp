// The built updater in a temporary prefix against a real FTP server, unattended: a first install
// and an idle pass, one pass for each other exit status, and the updater replacing itself.

#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <future>
#include <map>
#include <random>
#include <string>
#include <thread>

#include "platform/Prefix.h"
#include "platform/XcbConnection.h"
#include "support/FtpServer.h"
#include "support/ProgramRun.h"
#include "support/TempDir.h"
#include "support/XvfbServer.h"
#include "support/ZipTools.h"
#include "ui/Messages.h"
#include "util/Integrity.h"

namespace tandor::test {
namespace {

namespace fs = std::filesystem;

// A product name of these tests' own: a working copy of another product left running elsewhere
// on the machine must not make the launcher stand aside.
const std::string kProduct = "Kestrel";
// A program that notes its arguments in <its name>.ran beside itself.
const char* const kRecorder = "#!/bin/sh\nprintf '%s\\n' \"$*\" > \"$0.ran\"\n";

// An entry of the product's server folder, installed into C:\Kestrel; `keys` adds or overrides.
std::string Entry(int number, const std::string& file, std::map<std::string, std::string> keys = {},
                  const std::string& product = kProduct) {
  keys.insert({{"Key", file}, {"Filename", file}, {"Realname", file}, {"CopyMode", "Normal"}});
  keys.insert({{"Server Path", "$Root/" + product}, {"Local Path", "C:\\" + product}});
  std::string text = "[File" + std::to_string(number) + "]\r\n";
  for (const auto& [name, value] : keys) text += name + "=" + value + "\r\n";
  return text;
}

class UpdatePassTest : public ::testing::Test {
 protected:
  UpdatePassTest() {
    for (const std::string& name : {std::string("Tandor"), "Tandor" + kProduct}) {
      fs::create_directories(mApp);
      fs::copy_file(TANDOR_BINARY, mApp / name);
      fs::permissions(mApp / name, fs::perms(0755));
    }
  }

  void Publish(const std::string& name, const std::string& bytes) {
    WriteFile(mProduct / name, bytes);
  }
  void Configure(const std::string& port) {
    WriteFile(mApp / "Tandor.ini", "[Tandor]\r\nMethod=FTP\r\nAddress=127.0.0.1\r\nPort=" + port +
                                       "\r\nUser=tandor\r\nPassword=secret\r\nRoot=/Harrowin\r\n");
  }
  ProgramResult RunLauncher(const std::string& product) {
    return RunProgram(mApp / "Tandor", {"--wait", product}, mUnattended);
  }
  ProgramResult RunWorkingCopy() {
    return RunProgram(mApp / ("Tandor" + kProduct), {kProduct}, mUnattended);
  }
  // Whether `program` (a kRecorder) ran; then its arguments.
  std::optional<std::string> Ran(const fs::path& program) {
    const fs::path mark = program.string() + ".ran";
    if (!WaitFor([&] { return fs::exists(mark); }, std::chrono::seconds(10))) return std::nullopt;
    return ReadFile(mark);
  }

  TempDir mDir;
  Prefix mMachine = Prefix::Open(mDir / "prefix");
  fs::path mApp = mDir / "prefix" / "drive_c" / "Client";
  fs::path mServer = mDir / "srv";
  fs::path mProduct = mServer / "Harrowin" / kProduct;
  fs::path mLocal = mDir / "prefix" / "drive_c" / kProduct;
  FtpServer mFtp{mServer};
  const std::map<std::string, std::string> mUnattended = {
      {"TANDOR_PREFIX", (mDir / "prefix").string()}, {"TANDOR_UNATTENDED", "1"}};
};

TEST_F(UpdatePassTest, FirstInstallThenNothingToDo) {
  const fs::path regsvr32 = mMachine.ToNative("C:\\Windows\\System32\\REGSVR32.exe");
  WriteFile(regsvr32, kRecorder);
  fs::permissions(regsvr32, fs::perms(0755));
  Publish("readme.txt", "first release\n");
  Publish("tool.ex_", kRecorder);
  Publish("setup", kRecorder + std::string("echo setup-output\n"));
  Publish("comp.dll", "a component");
  WriteFile(mDir / "zipsrc" / "docs" / "deep" / "note.txt", "note\n");
  RunInfoZip(mDir / "zipsrc", {"-q", "-r", (mProduct / "pack.zip").string(), "docs"});
  Publish("Tandor10.ini",
          "[Files]\r\nExecute=2\r\nExecute Option=--final\r\n" +
              Entry(1, "readme.txt", {{"Local Path", "$(SystemDrive)\\" + kProduct}}) +
              Entry(2, "tool.ex_",
                    {{"Realname", "tool"}, {"Local Path", "C:\\" + kProduct + "\\bin"}}) +
              Entry(3, "pack.zip", {{"Extract", "1"}, {"Extract To", ".\\"}}) +
              Entry(4, "setup",
                    {{"Execute", "1"}, {"Execute Option", "/quiet $(AppPath)"}, {"Wait", "1"}}) +
              Entry(5, "comp.dll", {{"Register", "$(DLLSelfRegister)"}}));
  Configure(mFtp.PortText());
  ProgramResult run = RunWorkingCopy();

  EXPECT_EQ(run.Status, 0) << run.Out << run.Err;
  EXPECT_EQ(ReadFile(mLocal / "readme.txt"), "first release\n");
  EXPECT_EQ(ReadFile(mLocal / "bin" / "tool"), kRecorder);
  EXPECT_EQ(ReadFile(mLocal / "docs" / "deep" / "note.txt"), "note\n");
  EXPECT_NE(run.Out.find(msg::Extracted("pack.zip") + "\n"), std::string::npos) << run.Out;
  // The lines printed so far come before what a started program prints; the program's own
  // output may come before or after the line that says the pass waits for it.
  const std::size_t started = run.Out.find(msg::Starting("setup") + "\n"),
                    waiting = run.Out.find(msg::WaitingFor("setup") + "\n");
  EXPECT_LT(started, run.Out.find("setup-output\n")) << run.Out;
  EXPECT_LT(started, waiting) << run.Out;
  EXPECT_LT(waiting, run.Out.find(msg::Ended("setup") + "\n")) << run.Out;
  EXPECT_EQ(ReadFile(mLocal / "setup.ran"), "/quiet C:\\Client\n");
  EXPECT_EQ(Ran(regsvr32), "/S C:\\" + kProduct + "\\comp.dll\n");
  const std::string log = ReadFile(mApp / "Err.log");  // one line per download
  EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 5) << log;
  EXPECT_EQ(Ran(mLocal / "bin" / "tool"), "--final\n");  // the final program, with its options

  // Nothing to install: an empty log.
  Configure(mFtp.PortText());
  run = RunWorkingCopy();
  EXPECT_EQ(run.Status, 0) << run.Out << run.Err;
  EXPECT_EQ(ReadFile(mApp / "Err.log"), "");
}

// The other ends of a pass, each with its status and what it tells.
TEST_F(UpdatePassTest, FailedPassesEndWithTheirStatus) {
  Publish("broken.zip", "this is no zip archive");
  Publish("final", kRecorder);
  Publish("viewer", "new viewer");
  const std::string viewer = kProduct + " Viewer",
                    remote = "/Harrowin/" + kProduct + "/Tandor10.ini";
  const struct {
    std::string Manifest, Port;
    int Status;
    std::string Says;  // in the output or the error output
  } cases[] = {
      {"Execute=1\r\n" + Entry(1, "broken.zip", {{"Extract", "1"}}) + Entry(2, "missing.txt") +
           Entry(3, "final"),
       mFtp.PortText(), 1, msg::kAskTheAdministrator},
      {"", "1", 2, msg::ConnectionFailed("ftp", "127.0.0.1") + "\n"},
      {"", "21x", 2, msg::ConnectionFailed("ftp", "127.0.0.1") + "\n"},  // no port at all
      {Entry(1, "viewer", {{"Caption", viewer}}), mFtp.PortText(), 3, viewer},
      {Entry(1, "viewer"), mFtp.PortText(), 4, msg::ManifestUnsigned(remote)},  // a key is set
  };
  // The window of the viewer, open on a private X server.
  XvfbServer display;
  XcbConnection x(xcb_connect(nullptr, nullptr));
  {
    const xcb_window_t window = xcb_generate_id(x.get());
    xcb_create_window(x.get(), XCB_COPY_FROM_PARENT, window,
                      xcb_setup_roots_iterator(xcb_get_setup(x.get())).data->root, 0, 0, 100, 100,
                      0, XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, 0, nullptr);
    xcb_change_property(x.get(), XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_NAME, XCB_ATOM_STRING,
                        8, static_cast<std::uint32_t>(viewer.size()), viewer.data());
    xcb_map_window(x.get(), window);
    std::free(xcb_get_input_focus_reply(x.get(), xcb_get_input_focus(x.get()), nullptr));
  }
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Status);
    Publish("Tandor10.ini", "[Files]\r\n" + c.Manifest);
    if (c.Status == 4)  // a manifest key on the machine
      mMachine.WriteRegistryValue("SOFTWARE\\Tandor", "ManifestKey", GenerateKeyPair().Public);
    Configure(c.Port);
    const ProgramResult run = RunWorkingCopy();
    EXPECT_EQ(run.Status, c.Status) << run.Out << run.Err;
    EXPECT_NE((run.Out + run.Err).find(c.Says), std::string::npos) << run.Out << run.Err;
    EXPECT_FALSE(fs::exists(mLocal / "final.ran"));  // entry 1 failed: no final program
    EXPECT_FALSE(fs::exists(mLocal / "viewer"));
  }
}

TEST_F(UpdatePassTest, UpdaterReplacesItselfAndAFreshPassRuns) {
  // A newer updater: the same program whose version strings say 1.00.0211.
  std::string newer = ReadFile(TANDOR_BINARY);
  const auto utf16 = [](const std::string& ascii) {
    std::string out;
    for (char c : ascii) out += {c, '\0'};
    return out;
  };
  const std::string oldVersion = utf16("1.00.0210"), newVersion = utf16("1.00.0211");
  ASSERT_NE(newer.find(oldVersion), std::string::npos);
  for (std::size_t at = newer.find(oldVersion); at != std::string::npos;
       at = newer.find(oldVersion, at))
    newer.replace(at, newVersion.size(), newVersion);
  Publish("Tandor", newer);
  Publish("late.txt", "installed by the fresh pass\n");
  Publish("Tandor10.ini",
          "[Files]\r\n" +
              Entry(1, "Tandor", {{"Local Path", "$(AppPath)"}, {"Product Version", "1.00.0211"}}) +
              Entry(2, "late.txt") + Entry(3, "gone.txt"));
  Configure(mFtp.PortText());
  // The fresh pass reads the settings again: keep them for it.
  fs::permissions(mApp / "Tandor.ini", fs::perms::owner_read);
  // Through the launcher, waiting: the status is the fresh pass's (its missing file fails it),
  // not that of the pass that handed over nor of the new launcher.
  const ProgramResult run = RunLauncher(kProduct);
  EXPECT_EQ(run.Status, 1) << run.Out << run.Err;
  // The new launcher refreshed the working copy and started it; its pass installed the rest.
  EXPECT_TRUE(ReadFile(mApp / "Tandor") == newer);
  EXPECT_TRUE(ReadFile(mApp / ("Tandor" + kProduct)) == newer);
  EXPECT_TRUE(fs::exists(mLocal / "late.txt"));
  const std::string record = ReadFile(mLocal / "Version.ini");
  EXPECT_NE(record.find("[Tandor]\r\nFilename=Tandor\r\n"), std::string::npos) << record;
  EXPECT_NE(record.find("[late.txt]"), std::string::npos) << record;
}

// Updates side by side never hold each other. Two products of one application folder are
// updated at once through waiting launchers, while the publisher window runs the launcher's very
// file and a program that merely carries the launcher's name runs elsewhere: both passes end
// with 0, each having installed its own file.
TEST_F(UpdatePassTest, UpdatesSideBySideNeverHoldEachOther) {
  const std::string other = "Merlin";
  Publish("readme.txt", "kestrel\n");
  Publish("Tandor10.ini", "[Files]\r\n" + Entry(1, "readme.txt"));
  WriteFile(mServer / "Harrowin" / other / "notes.txt", "merlin\n");
  WriteFile(mServer / "Harrowin" / other / "Tandor10.ini",
            "[Files]\r\n" + Entry(1, "notes.txt", {}, other));
  Configure(mFtp.PortText());
  fs::permissions(mApp / "Tandor.ini", fs::perms::owner_read);  // both passes read the settings
  fs::create_directories(mDir / "elsewhere");
  fs::copy_file("/bin/sleep", mDir / "elsewhere" / "Tandor");
  const BackgroundProgram namesake(mDir / "elsewhere" / "Tandor", {"60"});
  XvfbServer display;
  const BackgroundProgram publisher(mApp / "Tandor", {"$Version"});

  auto first = std::async(std::launch::async, [&] { return RunLauncher(kProduct); });
  const ProgramResult second = RunLauncher(other);
  const ProgramResult firstRun = first.get();
  EXPECT_EQ(firstRun.Status, 0) << firstRun.Out << firstRun.Err;
  EXPECT_EQ(second.Status, 0) << second.Out << second.Err;
  EXPECT_EQ(ReadFile(mLocal / "readme.txt"), "kestrel\n");
  EXPECT_EQ(ReadFile(mDir / "prefix" / "drive_c" / other / "notes.txt"), "merlin\n");
  EXPECT_TRUE(namesake.Running());
  EXPECT_TRUE(publisher.Running());
}

// kill -9 of a pass at any moment while it installs a watched release or puts it back leaves
// what the next pass needs to finish or undo it: after that pass (here one that finds no
// server) the product has the old files with the old record, or the new files with the new
// record, never a mix. Half the kills land at a random moment of the pass, half just after
// the pass has begun to put the release back.
TEST_F(UpdatePassTest, KilledPassesLeaveOneWholeReleaseOrTheOther) {
  constexpr int kFiles = 150, kNew = 20;
  const auto name = [](int i) { return (i < kFiles ? "f" : "n") + std::to_string(i) + ".txt"; };
  const auto publish = [&](int release, const std::string& program) {
    const std::string v = std::to_string(release), folder = "r" + v;
    std::string entries;
    int number = 0;
    const std::map<std::string, std::string> here = {
        {"Server Path", "$Root/" + kProduct + "/" + folder}, {"Product Version", v}};
    Publish(folder + "/app", program);
    entries += Entry(++number, "app", here);
    for (int i = 0; i < kFiles + (release > 1 ? kNew : 0); ++i) {
      Publish(folder + "/" + name(i), "release " + v + " " + name(i));
      entries += Entry(++number, name(i), here);
    }
    Publish("Tandor10.ini", "[Files]\r\nExecute=1\r\nSerial=" + v + "\r\nVerify=5\r\n" + entries);
  };
  // Which release the product holds, checked whole: every file, the new ones, the record.
  const auto release = [&]() -> int {
    const std::string first = ReadFile(mLocal / "f0.txt");
    const int v = first.starts_with("release 2") ? 2 : 1;
    for (int i = 0; i < kFiles + kNew; ++i) {
      const fs::path file = mLocal / name(i);
      if (i >= kFiles && v == 1) {
        if (fs::exists(file)) return -1;
      } else if (ReadFile(file) != "release " + std::to_string(v) + " " + name(i)) {
        return -1;
      }
    }
    const std::string record = ReadFile(mLocal / "Version.ini");
    const std::string other = "Product Version=" + std::to_string(3 - v) + "\r\n";
    if (record.find(other) != std::string::npos || record.find("[f149.txt]") == std::string::npos)
      return -1;
    return v;
  };
  const fs::path prefix = mDir / "prefix", saved = mDir / "saved";
  publish(1, "#!/bin/sh\nexit 0\n");
  Configure(mFtp.PortText());
  ASSERT_EQ(RunWorkingCopy().Status, 0);
  fs::create_directories(saved);
  fs::copy(mLocal, saved / "local", fs::copy_options::recursive);
  fs::copy_file(prefix / "registry.ini", saved / "registry.ini");
  const auto restore = [&] {
    fs::remove_all(mLocal);
    fs::copy(saved / "local", mLocal, fs::copy_options::recursive);
    fs::copy_file(saved / "registry.ini", prefix / "registry.ini",
                  fs::copy_options::overwrite_existing);
  };

  publish(2, "#!/bin/sh\nexit 1\n");
  Configure(mFtp.PortText());
  const auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(RunWorkingCopy().Status, 5);
  const auto whole = std::chrono::steady_clock::now() - start;
  ASSERT_EQ(release(), 1);

  const unsigned seed = std::random_device{}();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 random(seed);
  const fs::path journal = mLocal / "Tandor.Backup" / "Journal";
  for (int round = 0; round < 8; ++round) {
    SCOPED_TRACE(round);
    restore();
    Configure(mFtp.PortText());
    {
      const BackgroundProgram pass(mApp / ("Tandor" + kProduct), {kProduct}, mUnattended, true);
      if (round % 2 == 0) {
        std::this_thread::sleep_for(
            std::uniform_int_distribution<std::int64_t>(
                0, std::chrono::duration_cast<std::chrono::microseconds>(whole).count())(random) *
            std::chrono::microseconds(1));
      } else {
        WaitFor([&] { return ReadFile(journal).starts_with("State=RollingBack"); },
                std::chrono::seconds(20));
        std::this_thread::sleep_for(
            std::chrono::microseconds(std::uniform_int_distribution<int>(0, 3000)(random)));
      }
    }                // killed here
    Configure("1");  // the next pass finds no server: it only finishes what was left
    EXPECT_EQ(RunWorkingCopy().Status, 2);
    EXPECT_NE(release(), -1);
    EXPECT_FALSE(fs::exists(journal));
  }
}

}  // namespace
}  // namespace tandor::test
