// The update pass run inside the test process against real servers on 127.0.0.1, with a window
// that records every call and answers message boxes from a script. Ending the program and
// replacing it throw, so that the test sees where the pass stopped and what it left on disk.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <limits>
#include <map>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "platform/Error.h"
#include "platform/Prefix.h"
#include "settings/ClientSettings.h"
#include "settings/IniStore.h"
#include "support/FtpServer.h"
#include "support/HttpServer.h"
#include "support/PassHarness.h"
#include "support/ServerProcess.h"
#include "support/TempDir.h"
#include "support/ZipTools.h"
#include "sync/UpdatePass.h"
#include "sync/UpdateWindow.h"
#include "util/Integrity.h"

namespace tandor::test {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::MatchesRegex;
using ::testing::Not;

// Thrown by ReplaceProgram, for the test to see where the pass stopped.
struct ProgramReplaced {
  std::string CommandLine;
};

std::string CrLf(std::initializer_list<std::string> lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\r\n";
  return text;
}

// One manifest entry: a plain file in the product's server folder, installed into C:\Sample
// whatever is there; `keys` adds or overrides keys.
std::string Entry(int number, const std::string& key, const std::string& filename,
                  std::map<std::string, std::string> keys = {}) {
  std::map<std::string, std::string> all = {{"Key", key},
                                            {"Filename", filename},
                                            {"Realname", filename},
                                            {"Server Path", "$Root/Sample"},
                                            {"Local Path", "C:\\Sample"},
                                            {"Product Version", "1.0"},
                                            {"CopyMode", "Force"}};
  for (auto& [name, value] : keys) all[name] = value;
  std::string text = "[File" + std::to_string(number) + "]\r\n";
  for (const auto& [name, value] : all) text += name + "=" + value + "\r\n";
  return text;
}

// Whether this process still holds `file` open.
bool HeldOpen(const fs::path& file) {
  std::error_code ec;
  for (const auto& fd : fs::directory_iterator("/proc/self/fd", ec)) {
    std::error_code link;
    if (fs::read_symlink(fd.path(), link) == file) return true;
  }
  return false;
}

class UpdatePassInProcessTest : public ::testing::Test, protected SampleMachine {
 protected:
  UpdatePassInProcessTest() {
    fs::create_directories(mApp);
    fs::create_directories(mProduct);
  }

  void Publish(const std::string& name, const std::string& bytes) {
    WriteFile(mProduct / name, bytes);
  }
  void PublishManifest(const std::string& text) { Publish("Tandor10.ini", text); }

  void StartFtp() {
    mFtp.emplace(mServer);
    mSettings.Port = mFtp->PortText();
  }
  void StartHttp() {
    mHttp.emplace(mServer);
    mSettings.Method = "HTTP";
    mSettings.Port = mHttp->PortText();
  }

  PassEnvironment Environment() {
    PassEnvironment env = SampleEnvironment(mMachine, mIni, mSettings, mWindow);
    // Like the real replacement, a program that is not there cannot take this one's place.
    env.ReplaceProgram = [this](const std::string& line) {
      const std::string program = line.substr(0, line.rfind(' '));
      if (!fs::exists(mMachine.ToNative(program)))
        throw RuntimeError(err::FileNotFound, "File not found: " + program);
      throw ProgramReplaced{line};
    };
    env.ProcessRunning = [this](const std::string& name) {
      mWindow.Calls.push_back("running:" + name);
      return mLauncherPolls-- > 0;
    };
    env.FormWindowOpen = [this](const std::string& caption) {
      mCaptionsAsked.push_back(caption);
      return caption == mOpenCaption;
    };
    env.Allow = mAllow;
    return env;
  }

  // Runs a whole pass; the status it ended with, nothing when Sync returned or it replaced
  // itself (mReplacedBy then holds the command line).
  std::optional<int> RunPass() {
    mPass = std::make_unique<UpdatePass>(Environment());
    try {
      mPass->Sync();
    } catch (const ProgramEnded& end) {
      return end.Status;
    } catch (const ProgramReplaced& replaced) {
      mReplacedBy = replaced.CommandLine;
    }
    return std::nullopt;
  }

  // What EXIT does in the program: a pass stopped before its end did not complete.
  void PressExit() {
    const int status = mPass->Status();
    mPass->EndNow(status == pass_status::Completed ? pass_status::EntryFailed : status);
  }

  std::string Record() const { return ReadFile(mLocal / "Version.ini"); }
  std::string Log() const { return ReadFile(mApp / "Err.log"); }

  std::optional<FtpServer> mFtp;
  std::optional<HttpServer> mHttp;
  int mLauncherPolls = 0;
  std::string mOpenCaption;
  std::vector<std::string> mCaptionsAsked;
  AllowRule mAllow;
  std::unique_ptr<UpdatePass> mPass;
  std::optional<std::string> mReplacedBy;
};

TEST_F(UpdatePassInProcessTest, OrdinaryInstallAddsItsLinesInOrder) {
  StartFtp();
  Publish("readme.txt", "hello\n");
  PublishManifest(CrLf({"[Files]"}) + Entry(1, "Readme", "readme.txt"));
  EXPECT_EQ(RunPass(), pass_status::Completed);

  EXPECT_EQ(ReadFile(mLocal / "readme.txt"), "hello\n");
  std::vector<std::string> shown;  // what the list and the window's placement went through
  for (const std::string& call : mWindow.Calls)
    if (!call.starts_with("busy:") && !call.starts_with("running:") && call != "pump" &&
        !call.starts_with("progress:"))
      shown.push_back(call);
  EXPECT_THAT(shown,
              ElementsAre("caption:Tandor 1.0.210", "line:Upgrade Sample by FTP", "centre",
                          "unselected:1개의 파일을 다운로드 합니다.", "show",
                          "line:readme.txt 파일 다운로드 중",
                          MatchesRegex("line:readme\\.txt 파일 다운로드 완료 \\([0-9.e+-]+\\)"),
                          "select", "hide"));
  EXPECT_THAT(Log(), MatchesRegex("readme\\.txt 파일 다운로드 완료 \\([0-9.e+-]+\\)\r\n"));
  EXPECT_THAT(mCaptionsAsked, IsEmpty());  // no caption, no window check
  EXPECT_THAT(Record(), HasSubstr("[Readme]\r\nFilename=readme.txt\r\nLocal Path=C:\\Sample\r\n"));
}

// Entries the rules do not choose: recorded, never fetched, and the window never appears.
TEST_F(UpdatePassInProcessTest, NothingToInstallKeepsTheWindowHidden) {
  struct Case {
    const char* Name;
    std::string Manifest;
    bool InstalledCopy;  // readme.txt present locally, recorded at version 1.0
    AllowRule Allow;
  };
  const Case cases[] = {
      {"same version present", Entry(1, "Readme", "readme.txt", {{"CopyMode", "Normal"}}), true,
       nullptr},
      {"missing but not allowed here",
       Entry(1, "Readme", "readme.txt", {{"Allow", "00-11-22-33-44-55"}}), false,
       [](const std::string& allow, const std::string&) { return allow.empty(); }},
  };
  StartFtp();
  Publish("readme.txt", "new\n");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    ClearProduct();
    if (c.InstalledCopy) {
      WriteFile(mLocal / "readme.txt", "old\n");
      WriteFile(mLocal / "Version.ini",
                CrLf({"[Readme]", "Filename=readme.txt", "Local Path=C:\\Sample",
                      "File Version=", "Product Version=1.0"}));
    }
    mWindow.Calls.clear();
    mAllow = c.Allow;
    PublishManifest(CrLf({"[Files]"}) + c.Manifest);
    EXPECT_EQ(RunPass(), pass_status::Completed);
    EXPECT_FALSE(mWindow.Has("show"));
    EXPECT_THAT(mWindow.ListLines(), ElementsAre("Upgrade Sample by FTP"));
    EXPECT_EQ(ReadFile(mLocal / "readme.txt"), c.InstalledCopy ? "old\n" : "");
    EXPECT_THAT(Record(), HasSubstr("[Readme]\r\nFilename=readme.txt\r\n"));
    EXPECT_EQ(Log(), "");
  }
}

TEST_F(UpdatePassInProcessTest, ExitDuringATransferStopsThePassThere) {
  StartFtp();
  Publish("first.txt", "first\n");
  Publish("second.txt", "second\n");
  Publish("big.bin", std::string(3 * 10240, 'b'));
  Publish("later.txt", "later\n");
  // The record reaches the disk at most once a second while the pass runs: the second entry's
  // keys are on disk only if EXIT puts them there.
  PublishManifest(CrLf({"[Files]"}) + Entry(1, "First", "first.txt") +
                  Entry(2, "Second", "second.txt") + Entry(3, "Big", "big.bin") +
                  Entry(4, "Later", "later.txt"));
  int eventsOfBig = 0;
  mWindow.AfterProgress = [&](std::int64_t, std::int64_t total) {
    if (total == 3 * 10240 && ++eventsOfBig == 1) PressExit();
  };
  EXPECT_EQ(RunPass(), pass_status::EntryFailed);

  EXPECT_EQ(eventsOfBig, 1);
  EXPECT_EQ(mWindow.Calls.back(), "progress:10240/30720");
  EXPECT_EQ(mWindow.ListLines().back(), "big.bin 파일 다운로드 중");
  EXPECT_EQ(ReadFile(mLocal / "first.txt"), "first\n");
  EXPECT_FALSE(fs::exists(mLocal / "big.bin"));
  EXPECT_FALSE(fs::exists(mLocal / "later.txt"));
  // What was written before EXIT is on disk: the earlier entries' log lines and record.
  EXPECT_THAT(Log(), MatchesRegex("first\\.txt 파일 다운로드 완료 [^\r]*\r\n"
                                  "second\\.txt 파일 다운로드 완료 [^\r]*\r\n"));
  EXPECT_FALSE(HeldOpen(mApp / "Err.log"));
  const std::string record = Record();
  EXPECT_THAT(record, HasSubstr("[First]\r\nFilename=first.txt\r\n"));
  EXPECT_THAT(record, HasSubstr("[Second]\r\nFilename=second.txt\r\n"));
  EXPECT_THAT(record, Not(HasSubstr("[Big]")));
  EXPECT_THAT(record, Not(HasSubstr("[Later]")));
}

TEST_F(UpdatePassInProcessTest, OpenProgramRefusesItsEntryAndEndsTheProgram) {
  StartFtp();
  Publish("readme.txt", "readme\n");
  Publish("viewer", "viewer\n");
  Publish("after.txt", "after\n");
  PublishManifest(CrLf({"[Files]"}) + Entry(1, "Readme", "readme.txt") +
                  Entry(2, "Viewer", "viewer", {{"Caption", "Sample Viewer"}}) +
                  Entry(3, "After", "after.txt", {{"Caption", "Other"}}));
  mOpenCaption = "Sample Viewer";
  EXPECT_EQ(RunPass(), pass_status::Refused);

  ASSERT_EQ(mWindow.Messages.size(), 1u);
  const RecordedMessage& box = mWindow.Messages[0];
  EXPECT_EQ(box.Icon, MessageIcon::Critical);
  EXPECT_EQ(box.Text,
            "Sample Viewer이(가) 이미 실행중이어서 다운로드를 진행할 수 없습니다.\r\n\r\n"
            "Sample Viewer을(를) 종료후 프로그램을 다시 시작하십시오!");
  EXPECT_EQ(mWindow.ListLines().back(), "viewer 파일 다운로드 중");
  EXPECT_EQ(ReadFile(mLocal / "readme.txt"), "readme\n");
  EXPECT_FALSE(fs::exists(mLocal / "viewer"));
  EXPECT_FALSE(fs::exists(mLocal / "after.txt"));
  const std::string record = Record();
  EXPECT_THAT(record, HasSubstr("[Readme]"));
  EXPECT_THAT(record, Not(HasSubstr("[Viewer]")));
  EXPECT_THAT(record, Not(HasSubstr("[After]")));
}

TEST_F(UpdatePassInProcessTest, MethodOtherThanFtpOrHttpIsRefusedAtOnce) {
  StartFtp();
  mSettings.Method = "Gopher";
  Publish("readme.txt", "hello\n");
  PublishManifest(CrLf({"[Files]"}) + Entry(1, "Readme", "readme.txt"));
  EXPECT_EQ(RunPass(), std::nullopt);  // the window waits for EXIT, as after no connection

  EXPECT_EQ(mPass->Status(), pass_status::NoServer);
  EXPECT_FALSE(fs::exists(mLocal / "readme.txt"));
  const std::string line =
      "Error:Tandor.ini의 Method=Gopher 은(는) 알 수 없는 접속 방식입니다. FTP, FTPS, HTTP 또는 "
      "HTTPS를 사용하십시오.";
  EXPECT_THAT(mWindow.ListLines(), ElementsAre("Upgrade Sample by Gopher", line));
  EXPECT_TRUE(mWindow.Has("show"));
  EXPECT_EQ(Log(), line + "\r\n");
}

// An installed file stays until its replacement has arrived; a copy under a substitute name goes
// before the download, except for the updater's own files.
TEST_F(UpdatePassInProcessTest, OldFilesOfUpdaterEntriesAreKept) {
  struct Case {
    const char* Filename;
    const char* Realname;
    bool OnServer;
    bool OldFilenameKept;  // the old LocalPath\Filename after the pass
  };
  const Case cases[] = {
      {"TandorLib.ex_", "TandorLib.exe", true, true},
      {"tool.ex_", "tool.exe", true, false},
      {"TANDOR.dat", "TANDOR.dat", false, true},
  };
  StartFtp();
  std::string manifest = CrLf({"[Files]"});
  int number = 0;
  for (const Case& c : cases) {
    ++number;
    manifest +=
        Entry(number, "Key" + std::to_string(number), c.Filename, {{"Realname", c.Realname}});
    if (c.OnServer) Publish(c.Filename, std::string("new ") + c.Filename);
    WriteFile(mLocal / c.Filename, "old");
    WriteFile(mLocal / c.Realname, "old");
  }
  PublishManifest(manifest);
  EXPECT_EQ(RunPass(), pass_status::EntryFailed);  // two files are missing on the server

  for (const Case& c : cases) {
    SCOPED_TRACE(c.Filename);
    if (c.OnServer) {
      EXPECT_EQ(ReadFile(mLocal / c.Realname), std::string("new ") + c.Filename);
      EXPECT_EQ(fs::exists(mLocal / c.Filename), c.OldFilenameKept);
    } else {
      EXPECT_EQ(fs::exists(mLocal / c.Filename), c.OldFilenameKept);
      EXPECT_THAT(Log(), HasSubstr(std::string(" (") + c.Filename + ")\r\n"));
    }
  }
}

TEST_F(UpdatePassInProcessTest, NewUpdaterReplacesTheWorkingCopy) {
  StartFtp();
  Publish("readme.txt", "readme\n");
  Publish("Tandor", "#!/bin/sh\nexit 0\n");
  Publish("after.txt", "after\n");
  PublishManifest(CrLf({"[Files]", "Execute=1"}) + Entry(1, "Readme", "readme.txt") +
                  Entry(2, "Updater", "Tandor", {{"Local Path", "$(AppPath)"}}) +
                  Entry(3, "After", "after.txt"));
  EXPECT_EQ(RunPass(), std::nullopt);

  EXPECT_EQ(mReplacedBy, "C:\\Client\\Tandor Sample");
  // The new launcher's fresh pass talks to the same server.
  const std::string settings = ReadFile(mApp / "Tandor.ini");
  EXPECT_THAT(settings, HasSubstr("Port=" + mSettings.Port + "\r\n"));
  EXPECT_THAT(settings, HasSubstr("User=tandor\r\nPassword=secret\r\nRoot=/Harrowin\r\n"));
  EXPECT_EQ(ReadFile(mApp / "Tandor"), "#!/bin/sh\nexit 0\n");
  EXPECT_EQ(::access((mApp / "Tandor").c_str(), X_OK), 0);
  EXPECT_FALSE(fs::exists(mLocal / "after.txt"));
  // The record is on disk, the log closed, before the new launcher takes over.
  const std::string record = Record();
  EXPECT_THAT(record, HasSubstr("[Readme]"));
  EXPECT_THAT(record, HasSubstr("[Updater]\r\nFilename=Tandor\r\nLocal Path=C:\\Client\r\n"));
  EXPECT_THAT(record, Not(HasSubstr("[After]")));
  EXPECT_FALSE(HeldOpen(mApp / "Err.log"));
  EXPECT_THAT(Log(), MatchesRegex("readme\\.txt [^\r]*\r\nTandor 파일 다운로드 완료 [^\r]*\r\n"));
  EXPECT_FALSE(mWindow.Has("hide"));  // the pass did not reach its normal end
}

// A new updater that never arrived does not take over, not even when an old one is there to
// start (it would run the same failing pass again, for ever): the failure is reported and the
// pass goes on as if the manifest carried no updater.
TEST_F(UpdatePassInProcessTest, NewUpdaterMissingOnTheServerIsReported) {
  StartFtp();
  WriteFile(mMachine.ToNative("C:\\Updater\\Tandor"), "the old updater");
  Publish("after.txt", "after\n");
  PublishManifest(CrLf({"[Files]"}) +
                  Entry(1, "Updater", "Tandor", {{"Local Path", "C:\\Updater"}}) +
                  Entry(2, "After", "after.txt"));
  EXPECT_EQ(RunPass(), pass_status::EntryFailed);

  EXPECT_EQ(mReplacedBy, std::nullopt);
  const std::string log = Log();
  EXPECT_THAT(log, MatchesRegex("Error:[^\r]* \\(Tandor\\)\r\n"
                                "after\\.txt 파일 다운로드 완료 [^\r]*\r\n"));
  EXPECT_EQ(ReadFile(mLocal / "after.txt"), "after\n");
  EXPECT_THAT(Record(), Not(HasSubstr("[Updater]")));
  EXPECT_TRUE(mWindow.Has("hide"));
}

TEST_F(UpdatePassInProcessTest, WaitsForTheLauncherProcessingMessagesBetweenPolls) {
  // A working copy whose version resource names it Tandor.
  fs::copy_file(fs::path(TANDOR_VERSION_FIXTURES) / "own_version64.o", mApp / "TandorSample");
  mLauncherPolls = 3;
  mSettings.Port = "1";  // nothing listens there: the pass stops after connecting
  EXPECT_EQ(RunPass(), std::nullopt);

  ASSERT_GE(mWindow.Calls.size(), 9u);
  EXPECT_THAT(
      std::vector<std::string>(mWindow.Calls.begin(), mWindow.Calls.begin() + 9),
      ElementsAreArray({"busy:1", "running:Tandor", "pump", "running:Tandor", "pump",
                        "running:Tandor", "pump", "running:Tandor", "caption:Tandor 1.0.210"}));
  EXPECT_EQ(mLauncherPolls, -1);
  EXPECT_EQ(mPass->Status(), pass_status::NoServer);
  EXPECT_EQ(Log(), "ftp://127.0.0.1에 연결 중 에러가 발생하였습니다.\r\n");
  EXPECT_EQ(mWindow.Calls.back(), "busy:0");
}

// Manifest paths never lead out of the prefix's drives and the application folder: Windows paths
// resolve as Windows does, and whatever still points elsewhere fails its entry alone.
TEST_F(UpdatePassInProcessTest, EveryWriteStaysInsideThePrefixAndTheApplicationFolder) {
  struct Case {
    const char* Name;
    std::map<std::string, std::string> Keys;
    std::string Lands;  // below the test folder; empty when the entry is refused
  };
  const Case cases[] = {
      {"climbing file name", {{"Filename", "../../../../x.txt"}}, "prefix/drive_c/x.txt"},
      {"climbing local path", {{"Local Path", "C:\\..\\..\\x"}}, "prefix/drive_c/x/x.txt"},
      {"empty local path", {{"Local Path", ""}}, "prefix/drive_c/x.txt"},
      {"rooted without drive",
       {{"Local Path", "\\Sample\\sub"}},
       "prefix/drive_c/Sample/sub/x.txt"},
      {"application folder",
       {{"Local Path", "$(AppPath)\\..\\Client"}},
       "prefix/drive_c/Client/x.txt"},
      {"native outside", {{"Local Path", (mDir.Path() / "outside").string()}}, ""},
      {"native climbing out",
       {{"Local Path", (mApp / ".." / ".." / ".." / "outside").string()}},
       ""},
      {"relative", {{"Local Path", "Sample"}}, ""},
  };
  StartFtp();
  Publish("x.txt", "x\n");
  WriteFile(mServer / "x.txt", "x\n");  // where the server's own root takes "../" to
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    fs::remove_all(mDir / "prefix" / "drive_c" / "x.txt");
    fs::remove(mLocal / "Version.ini");
    mIni.Forget(mLocal / "Version.ini");
    std::map<std::string, std::string> keys = c.Keys;
    keys.emplace("Filename", "x.txt");
    keys["Realname"] = keys["Filename"];
    PublishManifest(CrLf({"[Files]"}) + Entry(1, "X", "x.txt", keys) + Entry(2, "Y", "x.txt"));
    mWindow.Calls.clear();
    const std::optional<int> status = RunPass();
    EXPECT_EQ(ReadFile(mLocal / "x.txt"), "x\n");  // the second entry is installed all the same
    if (!c.Lands.empty()) {
      EXPECT_EQ(status, pass_status::Completed);
      EXPECT_EQ(ReadFile(mDir / c.Lands), "x\n");
      continue;
    }
    EXPECT_EQ(status, pass_status::EntryFailed);
    EXPECT_FALSE(fs::exists(mDir / "outside"));
    EXPECT_THAT(
        Log(),
        MatchesRegex("Error:[^\r]* 은\\(는\\) 설치할 수 있는 폴더 밖에 있어 설치하지 "
                     "않습니다\\. \\([^)]*x\\.txt\\)\r\nx\\.txt 파일 다운로드 완료[^\r]*\r\n"));
    EXPECT_THAT(Record(), Not(HasSubstr("[X]")));
  }
}

// A pass that did not install an entry never notes it as installed: the old file and the old
// record stay, and the next pass tries again until it succeeds.
TEST_F(UpdatePassInProcessTest, FailedEntriesKeepTheirRecordAndAreTriedAgain) {
  struct Case {
    const char* Name;
    std::string Published;  // the new file as the server has it at first; empty: missing
    bool Extract;
  };
  const Case cases[] = {
      {"missing on the server", "", false},
      {"broken archive", "this is no zip", true},
  };
  StartFtp();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    ClearProduct();
    WriteFile(mLocal / "data.bin", "old");
    fs::permissions(mLocal / "data.bin", fs::perms::owner_read);  // read-only, as shipped
    WriteFile(mLocal / "Version.ini", CrLf({"[Data]", "Filename=data.bin", "Local Path=C:\\Sample",
                                            "File Version=", "Product Version=1.0"}));
    fs::remove(mProduct / "data.bin");
    if (!c.Published.empty()) Publish("data.bin", c.Published);
    std::map<std::string, std::string> keys = {{"CopyMode", "Normal"}, {"Product Version", "2.0"}};
    if (c.Extract) keys["Extract"] = "1";
    PublishManifest(CrLf({"[Files]"}) + Entry(1, "Data", "data.bin", keys));

    EXPECT_EQ(RunPass(), pass_status::EntryFailed);
    if (!c.Extract) {
      EXPECT_EQ(ReadFile(mLocal / "data.bin"), "old");
    }
    EXPECT_THAT(Record(), HasSubstr("Product Version=1.0\r\n"));

    // The server is mended: the next pass installs it and only then notes 2.0.
    mWindow.Calls.clear();
    if (c.Extract) {
      MakePythonZip(mProduct / "data.bin", "z.writestr('inside.txt', 'inside')");
    } else {
      Publish("data.bin", "new");
    }
    EXPECT_EQ(RunPass(), pass_status::Completed);
    if (c.Extract)
      EXPECT_EQ(ReadFile(mLocal / "inside.txt"), "inside");
    else
      EXPECT_EQ(ReadFile(mLocal / "data.bin"), "new");
    EXPECT_THAT(Record(), HasSubstr("Product Version=2.0\r\n"));
  }
}

// A manifest that is no manifest is reported and ends the pass, rather than installing nothing
// and calling that a success.
TEST_F(UpdatePassInProcessTest, ManifestsThatAreNoManifestsEndThePass) {
  struct Case {
    const char* Name;
    std::string Manifest;
    std::optional<int> Status;
  };
  const Case cases[] = {
      {"binary garbage",
       std::string("\x7f"
                   "ELF\0\x01\x02garbage\xff\xfe",
                   16),
       2},
      {"files section only", CrLf({"[Files]", "Execute=0"}), 0},
      {"entries only", Entry(1, "Readme", "readme.txt"), 0},
      {"byte-order mark",
       "\xEF\xBB\xBF" + CrLf({"[Files]", "Execute=1"}) + Entry(1, "Readme", "readme.txt"), 0},
  };
  StartFtp();
  Publish("readme.txt", "#!/bin/sh\ntouch \"$0.ran\"\n");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    mWindow.Clear();
    PublishManifest(c.Manifest);
    EXPECT_EQ(RunPass(), c.Status);
    if (c.Status == pass_status::Completed) continue;
    ASSERT_EQ(mWindow.Messages.size(), 1u);
    const std::string text =
        "/Harrowin/Sample/Tandor10.ini 은(는) 업데이트 목록이 아닙니다: [Files]도 [File1]도 "
        "없습니다.";
    EXPECT_EQ(mWindow.Messages[0].Text, text);
    EXPECT_EQ(Log(), "Error:" + text + "\r\n");
  }
  // With the mark gone, "[Files]" is seen and its program started.
  for (int i = 0; i < 500 && !fs::exists(mLocal / "readme.txt.ran"); ++i) ::usleep(10000);
  EXPECT_TRUE(fs::exists(mLocal / "readme.txt.ran"));
}

// Temporary files of passes that were killed go at the next pass; those of a running process
// and files that merely look alike stay.
TEST_F(UpdatePassInProcessTest, StaleTemporaryFilesAreSweptAtTheStart) {
  StartFtp();
  Publish("readme.txt", "new\n");
  PublishManifest(CrLf({"[Files]"}) + Entry(1, "Readme", "readme.txt") +
                  Entry(2, "Other", "readme.txt", {{"Local Path", "C:\\Other"}}));
  const std::string dead = std::to_string(std::numeric_limits<int>::max() - 1);
  const std::string alive = std::to_string(::getppid());
  const struct {
    fs::path File;
    bool Stays;
  } files[] = {
      {mLocal / ("readme.txt.tmp" + dead + ".0"), false},
      {mDir / "prefix/drive_c/Other" / ("x.tmp" + dead + ".3"), false},
      {mApp / ("Tandor.ini.tmp" + dead + ".1"), false},
      {mLocal / ("readme.txt.tmp" + alive + ".0"), true},
      {mLocal / ("notes.tmp" + dead), true},
      {mLocal / "backup.tmp1.x", true},
  };
  for (const auto& f : files) WriteFile(f.File, "partial");
  EXPECT_EQ(RunPass(), pass_status::Completed);
  for (const auto& f : files) EXPECT_EQ(fs::exists(f.File), f.Stays) << f.File;
}

// EXIT in the middle of a transfer leaves no partial file behind.
TEST_F(UpdatePassInProcessTest, ExitRemovesThePartialDownload) {
  StartHttp();
  Publish("big.bin", std::string(5 * 10240, 'b'));
  PublishManifest(CrLf({"[Files]"}) + Entry(1, "Big", "big.bin"));
  mWindow.AfterProgress = [&](std::int64_t current, std::int64_t) {
    if (current == 2 * 10240) PressExit();
  };
  EXPECT_EQ(RunPass(), pass_status::EntryFailed);
  std::vector<std::string> left;
  for (const auto& file : fs::directory_iterator(mLocal)) left.push_back(file.path().filename());
  EXPECT_THAT(left, ElementsAre("Tandor10.ini"));
}

// SHA256= is checked before the new file replaces the old one; a wrong file never lands.
TEST_F(UpdatePassInProcessTest, DownloadsAreCheckedAgainstTheirSha256) {
  struct Case {
    const char* Name;
    bool Http;
    std::string Published;
    std::string Sha256;  // written in the manifest
    bool Installed;
  };
  const std::string payload = "release 2\n";
  Sha256Stream stream;
  stream.Update(payload.data(), payload.size());
  const std::string hex = Sha256Hex(stream.Final());
  std::string upper = hex;
  for (char& ch : upper) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
  const Case cases[] = {
      {"matching file over FTP", false, payload, hex, true},
      {"matching file over HTTP, capital hex", true, payload, upper, true},
      {"mix-and-match: another release's file", false, "release 1\n", hex, false},
      {"mix-and-match over HTTP", true, "release 1\n", hex, false},
      {"no hash at all", false, payload, "not a digest", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    mFtp.reset();
    mHttp.reset();
    mSettings.Method = "FTP";
    c.Http ? StartHttp() : StartFtp();
    ClearProduct();
    WriteFile(mApp / "Err.log", "");
    WriteFile(mLocal / "data.bin", "old");
    Publish("data.bin", c.Published);
    PublishManifest(CrLf({"[Files]"}) + Entry(1, "Data", "data.bin", {{"SHA256", c.Sha256}}));

    EXPECT_EQ(RunPass(), c.Installed ? pass_status::Completed : pass_status::EntryFailed);
    EXPECT_EQ(ReadFile(mLocal / "data.bin"), c.Installed ? payload : "old");
    for (const auto& file : fs::directory_iterator(mLocal))  // no temporary file stays
      EXPECT_THAT(file.path().filename().string(), Not(HasSubstr(".tmp")));
    if (!c.Installed) {
      EXPECT_THAT(Log(), MatchesRegex("Error:.*SHA.* \\(data\\.bin\\)\r\n"));
      EXPECT_THAT(Record(), Not(HasSubstr("[Data]")));
    }
  }
}

// With a manifest key on the machine, only a manifest signed with it, and no older than the last
// one accepted, decides anything.
TEST_F(UpdatePassInProcessTest, SignedManifestsAloneAreTrusted) {
  const KeyPair trusted = GenerateKeyPair();
  const KeyPair other = GenerateKeyPair();
  const auto manifest = [](const std::string& serial) {
    return CrLf({"[Files]", "Serial=" + serial}) + Entry(1, "Data", "data.bin");
  };
  const auto sign = [](const std::string& text, const KeyPair& key) {
    return *SignDetached(text, key.Secret);
  };
  struct Case {
    const char* Name;
    std::string Manifest;
    std::optional<std::string> Signature;  // nothing: no .sig on the server
    int Status;
    const char* Says;
  };
  const Case cases[] = {
      {"signed with the machine's key", manifest("5"), sign(manifest("5"), trusted), 0, ""},
      {"same serial again", manifest("5"), sign(manifest("5"), trusted), 0, ""},
      {"arbitrary installation: unsigned", manifest("6"), std::nullopt, 4, ".sig 이(가) 없어"},
      {"arbitrary installation: signed with another key", manifest("6"), sign(manifest("6"), other),
       4, "서명이 올바르지"},
      {"arbitrary installation: tampered manifest", manifest("6") + "[File2]\r\nKey=Evil\r\n",
       sign(manifest("6"), trusted), 4, "서명이 올바르지"},
      {"tampered signature", manifest("6"), "A" + sign(manifest("6"), trusted).substr(1), 4,
       "서명이 올바르지"},
      {"rollback: lower serial, validly signed", manifest("4"), sign(manifest("4"), trusted), 4,
       "Serial=4 이(가) 이미 받은 5 보다 낮아"},
      {"rollback: serial left out", CrLf({"[Files]"}) + Entry(1, "Data", "data.bin"),
       sign(CrLf({"[Files]"}) + Entry(1, "Data", "data.bin"), trusted), 4, "Serial= 이(가)"},
      {"higher serial", manifest("7"), sign(manifest("7"), trusted), 0, ""},
  };
  mMachine.WriteRegistryValue("SOFTWARE\\Tandor", "ManifestKey", trusted.Public);
  StartHttp();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    ClearProduct();
    WriteFile(mApp / "Err.log", "");
    mWindow.Messages.clear();
    Publish("data.bin", c.Name);
    PublishManifest(c.Manifest);
    fs::remove(mProduct / "Tandor10.ini.sig");
    if (c.Signature) Publish("Tandor10.ini.sig", *c.Signature + "\n");

    EXPECT_EQ(RunPass(), c.Status);
    if (c.Status == pass_status::Completed) {
      EXPECT_EQ(ReadFile(mLocal / "data.bin"), c.Name);
      continue;
    }
    EXPECT_FALSE(fs::exists(mLocal / "data.bin"));
    EXPECT_FALSE(fs::exists(mLocal / "Version.ini"));  // no entry was decided
    ASSERT_EQ(mWindow.Messages.size(), 1u);
    EXPECT_THAT(mWindow.Messages[0].Text, HasSubstr(c.Says));
    EXPECT_EQ(Log(), "Error:" + mWindow.Messages[0].Text + "\r\n");
  }
  EXPECT_EQ(mMachine.ReadRegistryValue("SOFTWARE\\Tandor\\Serial", "Sample"), "7");
}

// A download with SHA256= that breaks off after 1 MiB keeps its part, and the next pass asks only
// for the rest. The server's first half is garbled after the drop, so only a download that
// really resumed can match the digest; a server that ignores Range sends the whole file.
TEST_F(UpdatePassInProcessTest, BrokenDownloadsWithADigestAreResumed) {
  std::string payload(3 << 20, '\0');
  for (std::size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<char>(i * 7 + i / 4099);
  Sha256Stream stream;
  stream.Update(payload.data(), payload.size());
  const std::string hex = Sha256Hex(stream.Final());
  const std::string half = payload.substr(0, payload.size() / 2);  // more than 1 MiB
  const std::string garbled = std::string(1 << 20, 'g') + payload.substr(1 << 20);
  const std::string script = std::string(TANDOR_SOURCE_DIR) + "/tests/support/tls_fixture.py";
  const fs::path partial = mLocal / "data.bin.partial";

  enum class Server { Ftp, Nginx, NoRange };
  struct Case {
    const char* Name;
    Server Resumer;
    std::string Kept;       // the part beside the target before the resuming pass
    std::string Published;  // the server's file for the resuming pass
  };
  const Case cases[] = {
      {"HTTP Range after a drop at half", Server::Nginx, "", garbled},
      {"FTP REST", Server::Ftp, half, garbled},
      {"server without Range", Server::NoRange, std::string(half.size(), 'x'), payload},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    ClearProduct();
    WriteFile(mLocal / "data.bin", "old");
    Publish("data.bin", payload);
    PublishManifest(CrLf({"[Files]"}) + Entry(1, "Data", "data.bin", {{"SHA256", hex}}));
    if (c.Kept.empty()) {
      // The first pass: the server drops the connection at half.
      mSettings.Method = "HTTP";
      mHttp.emplace(mServer, HttpServer::Redirects{},
                    std::vector<std::string>{"/Harrowin/Sample/data.bin"});
      mSettings.Port = mHttp->PortText();
      EXPECT_EQ(RunPass(), pass_status::EntryFailed);
      EXPECT_EQ(ReadFile(mLocal / "data.bin"), "old");
      const std::string kept = ReadFile(partial);  // whole chunks of what arrived
      EXPECT_GE(kept.size(), 1u << 20);
      EXPECT_TRUE(payload.starts_with(kept));
    } else {
      WriteFile(partial, c.Kept);
    }
    Publish("data.bin", c.Published);
    mHttp.reset();
    mFtp.reset();
    std::optional<ServerProcess> nginx;
    mSettings.Method = c.Resumer == Server::Ftp ? "FTP" : "HTTP";
    if (c.Resumer == Server::Ftp) {
      StartFtp();
    } else if (c.Resumer == Server::NoRange) {
      StartHttp();
    } else {
      nginx.emplace(std::vector<std::string>{std::string("/usr/bin/python3"), script, "http", mDir.Path().string(),
                                             "-", mServer.string()});
      mSettings.Port = std::to_string(nginx->Port());
    }
    EXPECT_EQ(RunPass(), pass_status::Completed) << Log();
    EXPECT_TRUE(ReadFile(mLocal / "data.bin") == payload);
    EXPECT_FALSE(fs::exists(partial));
  }
}

}  // namespace
}  // namespace tandor::test
