// The update pass run inside the test process against real servers on 127.0.0.1, with a window
// that records every call. Ending the program and replacing it throw, so that the test sees where
// the pass stopped and what it left on disk.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <filesystem>
#include <limits>
#include <map>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "platform/Error.h"
#include "support/FtpServer.h"
#include "support/HttpServer.h"
#include "support/PassHarness.h"
#include "support/ProgramRun.h"
#include "support/ServerProcess.h"
#include "support/ZipTools.h"
#include "sync/Messages.h"
#include "util/Integrity.h"

namespace tandor::test {
namespace {

namespace fs = std::filesystem;
using ::testing::Each;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::MatchesRegex;
using ::testing::Not;
using Keys = std::map<std::string, std::string>;

const std::string kRemote = "/Harrowin/Sample/Tandor10.ini";

// Thrown by ReplaceProgram, for the test to see where the pass stopped.
struct ProgramReplaced {
  std::string CommandLine;
};

// One manifest entry: a plain file in the product's server folder, installed into C:\Sample
// whatever is there; `keys` adds or overrides keys.
std::string Entry(int number, const std::string& key, const std::string& filename, Keys keys = {}) {
  keys.insert({{"Key", key}, {"Filename", filename}, {"Realname", filename}});
  keys.insert({{"Server Path", "$Root/Sample"}, {"Local Path", "C:\\Sample"}});
  keys.insert({{"Product Version", "1.0"}, {"CopyMode", "Force"}});
  std::string text = "[File" + std::to_string(number) + "]\r\n";
  for (const auto& [name, value] : keys) text += name + "=" + value + "\r\n";
  return text;
}

// The record of C:\Sample\<file> installed at product version 1.0.
std::string Installed(const std::string& key, const std::string& file) {
  return "[" + key + "]\r\nFilename=" + file +
         "\r\nLocal Path=C:\\Sample\r\nFile Version=\r\nProduct Version=1.0\r\n";
}

// `text` as a regular expression that matches it literally.
std::string Re(const std::string& text) {
  return std::regex_replace(text, std::regex("[.()\\[\\]]"), "\\$&");
}
// The log line of a download, whatever its seconds, as a regular expression.
std::string DoneRe(const std::string& file) {
  const std::string line = Re(msg::Downloaded(file, "S"));
  return line.substr(0, line.find("\\(S")) + "[^\r]*\r\n";
}

std::string Sha256Of(const std::string& bytes) {
  Sha256Stream stream;
  stream.Update(bytes.data(), bytes.size());
  return Sha256Hex(stream.Final());
}

class UpdatePassInProcessTest : public ::testing::Test, protected SampleMachine {
 protected:
  UpdatePassInProcessTest() {
    fs::create_directories(mApp);
    // Like the real replacement, a program that is not there cannot take this one's place.
    mEnv.ReplaceProgram = [this](const std::string& line) {
      const std::string program = line.substr(0, line.rfind(' '));
      if (!fs::exists(mMachine.ToNative(program)))
        throw RuntimeError(err::FileNotFound, "File not found: " + program);
      throw ProgramReplaced{line};
    };
  }

  void Publish(const std::string& name, const std::string& bytes) {
    WriteFile(mProduct / name, bytes);
  }
  void PublishFiles(const std::string& entries, const std::string& header = "") {
    Publish("Tandor10.ini", "[Files]\r\n" + header + entries);
  }
  // A fresh server on the server folder: "FTP", "HTTP", "HTTP-drop" (its replies for data.bin
  // stop at half) or "nginx" (a real web server, with Range).
  void Serve(const std::string& kind) {
    mFtp.reset();
    mHttp.reset();
    mNginx.reset();
    const std::vector<std::string> drops = {"/Harrowin/Sample/data.bin"};
    if (kind == "FTP") mFtp.emplace(mServer);
    if (kind == "HTTP") mHttp.emplace(mServer);
    if (kind == "HTTP-drop") mHttp.emplace(mServer, HttpServer::Redirects{}, drops);
    std::vector<std::string> nginx = test::ServerCommand("nginx");
    nginx.insert(nginx.end(), {"--root", mServer.string()});
    if (kind == "nginx") mNginx.emplace(nginx);
    mSettings.Method = mFtp ? "FTP" : "HTTP";
    mSettings.Port = mFtp ? mFtp->PortText() : mHttp ? mHttp->PortText() : mNginx->PortText();
  }

  // Runs a whole pass; the status it ended with, nothing when Sync returned or it replaced
  // itself (mReplacedBy then holds the command line).
  std::optional<int> RunPass() {
    mPass = std::make_unique<UpdatePass>(mEnv);
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
  std::vector<std::string> LocalFiles() const {
    std::vector<std::string> names;
    for (const auto& file : fs::directory_iterator(mLocal)) names.push_back(file.path().filename());
    std::sort(names.begin(), names.end());
    return names;
  }
  // Whether this process still holds the log open.
  bool LogHeldOpen() const {
    for (const auto& fd : fs::directory_iterator("/proc/self/fd")) {
      std::error_code ec;
      if (fs::read_symlink(fd.path(), ec) == mApp / "Err.log") return true;
    }
    return false;
  }

  PassEnvironment mEnv = SampleEnvironment(mMachine, mIni, mSettings, mWindow);
  std::optional<FtpServer> mFtp;
  std::optional<HttpServer> mHttp;
  std::optional<ServerProcess> mNginx;
  std::unique_ptr<UpdatePass> mPass;
  std::optional<std::string> mReplacedBy;
};

TEST_F(UpdatePassInProcessTest, OrdinaryInstallAddsItsLinesInOrder) {
  Serve("FTP");
  Publish("readme.txt", "hello\n");
  PublishFiles(Entry(1, "Readme", "readme.txt"));
  mEnv.FormWindowOpen = [this](const std::string&) {  // no caption, no window check
    mWindow.Calls.push_back("asked");
    return false;
  };
  EXPECT_EQ(RunPass(), pass_status::Completed);

  EXPECT_EQ(ReadFile(mLocal / "readme.txt"), "hello\n");
  std::erase_if(mWindow.Calls, [](const std::string& call) {  // keep the list and the placement
    return call.starts_with("busy:") || call.starts_with("progress:") || call == "pump";
  });
  EXPECT_THAT(mWindow.Calls,
              ElementsAre("caption:Tandor 1.0.210", "line:" + msg::Connecting("Sample", "FTP"),
                          "centre", "unselected:" + msg::DownloadCount(1), "show",
                          "line:" + msg::Downloading("readme.txt"),
                          MatchesRegex("line:readme\\.txt 파일 다운로드 완료 \\([0-9.e+-]+\\)"),
                          "select", "hide"));
  EXPECT_EQ(Log(), mWindow.Calls[6].substr(5) + "\r\n");
  EXPECT_THAT(Record(), HasSubstr("[Readme]\r\nFilename=readme.txt\r\nLocal Path=C:\\Sample\r\n"));
}

// Entries the rules do not choose (the same version present; missing but not allowed here):
// recorded, never fetched, and the window never appears.
TEST_F(UpdatePassInProcessTest, NothingToInstallKeepsTheWindowHidden) {
  Serve("FTP");
  Publish("readme.txt", "new\n");
  Publish("other.txt", "new\n");
  WriteFile(mLocal / "readme.txt", "old\n");
  WriteFile(mLocal / "Version.ini", Installed("Readme", "readme.txt"));
  mEnv.Allow = [](const std::string& allow, const std::string&) { return allow.empty(); };
  PublishFiles(Entry(1, "Readme", "readme.txt", {{"CopyMode", "Normal"}}) +
               Entry(2, "Other", "other.txt", {{"Allow", "00-11-22-33-44-55"}}));
  EXPECT_EQ(RunPass(), pass_status::Completed);
  EXPECT_THAT(mWindow.ListLines(), ElementsAre(msg::Connecting("Sample", "FTP")));
  EXPECT_FALSE(mWindow.Has("show"));
  EXPECT_THAT(LocalFiles(), ElementsAre("Tandor10.ini", "Version.ini", "readme.txt"));
  EXPECT_EQ(ReadFile(mLocal / "readme.txt"), "old\n");
  EXPECT_THAT(Record(), MatchesRegex("\\[Readme\\]\r\nFilename=readme.txt\r\n[^[]*"
                                     "\\[Other\\]\r\nFilename=other.txt\r\n[^[]*"));
  EXPECT_EQ(Log(), "");
}

// EXIT during a transfer stops the pass there and leaves no partial file; what came before is on
// disk, though the record reaches the disk at most once a second while the pass runs.
TEST_F(UpdatePassInProcessTest, ExitDuringATransferStopsThePassThere) {
  for (const char* name : {"first.txt", "second.txt", "later.txt"}) Publish(name, name);
  Publish("big.bin", std::string(3 * 10240, 'b'));
  PublishFiles(Entry(1, "First", "first.txt") + Entry(2, "Second", "second.txt") +
               Entry(3, "Big", "big.bin") + Entry(4, "Later", "later.txt"));
  for (const char* method : {"FTP", "HTTP"}) {
    SCOPED_TRACE(method);
    Serve(method);
    ClearProduct();
    mWindow.Clear();
    mWindow.AfterProgress = [&](std::int64_t, std::int64_t total) {
      if (total == 3 * 10240) PressExit();
    };
    EXPECT_EQ(RunPass(), pass_status::EntryFailed);

    EXPECT_EQ(mWindow.Calls.back(), "progress:10240/30720");
    EXPECT_EQ(mWindow.ListLines().back(), msg::Downloading("big.bin"));
    EXPECT_THAT(LocalFiles(),
                ElementsAre("Tandor10.ini", "Version.ini", "first.txt", "second.txt"));
    EXPECT_THAT(Log(), MatchesRegex(DoneRe("first.txt") + DoneRe("second.txt")));
    EXPECT_FALSE(LogHeldOpen());
    EXPECT_THAT(Record(), MatchesRegex("\\[First\\][^[]*\\[Second\\][^[]*"));
  }
}

TEST_F(UpdatePassInProcessTest, OpenProgramRefusesItsEntryAndEndsTheProgram) {
  Serve("FTP");
  for (const char* name : {"readme.txt", "viewer", "after.txt"}) Publish(name, name);
  PublishFiles(Entry(1, "Readme", "readme.txt") +
               Entry(2, "Viewer", "viewer", {{"Caption", "Sample Viewer"}}) +
               Entry(3, "After", "after.txt", {{"Caption", "Other"}}));
  mEnv.FormWindowOpen = [](const std::string& caption) { return caption == "Sample Viewer"; };
  EXPECT_EQ(RunPass(), pass_status::Refused);

  ASSERT_EQ(mWindow.Messages.size(), 1u);
  EXPECT_EQ(mWindow.Messages[0].Icon, MessageIcon::Critical);
  EXPECT_EQ(mWindow.Messages[0].Text, msg::ProgramStillOpen("Sample Viewer"));
  EXPECT_EQ(mWindow.ListLines().back(), msg::Downloading("viewer"));
  EXPECT_THAT(LocalFiles(), ElementsAre("Tandor10.ini", "Version.ini", "readme.txt"));
  EXPECT_THAT(Record(), MatchesRegex("\\[Readme\\][^[]*"));
}

TEST_F(UpdatePassInProcessTest, MethodOtherThanFtpOrHttpIsRefusedAtOnce) {
  Serve("FTP");
  mSettings.Method = "Gopher";
  Publish("readme.txt", "hello\n");
  PublishFiles(Entry(1, "Readme", "readme.txt"));
  EXPECT_EQ(RunPass(), std::nullopt);  // the window waits for EXIT, as after no connection

  EXPECT_EQ(mPass->Status(), pass_status::NoServer);
  EXPECT_FALSE(fs::exists(mLocal / "readme.txt"));
  const std::string line = "Error:" + msg::UnknownMethod("Gopher");
  EXPECT_THAT(mWindow.ListLines(), ElementsAre(msg::Connecting("Sample", "Gopher"), line));
  EXPECT_TRUE(mWindow.Has("show"));
  EXPECT_EQ(Log(), line + "\r\n");
}

// An installed file stays until its replacement has arrived; a copy under a substitute name goes
// before the download, except for the updater's own files.
TEST_F(UpdatePassInProcessTest, OldFilesOfUpdaterEntriesAreKept) {
  Serve("FTP");
  for (const char* name : {"TandorLib.ex_", "TandorLib.exe", "tool.ex_", "tool.exe", "TANDOR.dat"})
    WriteFile(mLocal / name, "old");
  Publish("TandorLib.ex_", "new");
  Publish("tool.ex_", "new");
  PublishFiles(Entry(1, "Lib", "TandorLib.ex_", {{"Realname", "TandorLib.exe"}}) +
               Entry(2, "Tool", "tool.ex_", {{"Realname", "tool.exe"}}) +
               Entry(3, "Data", "TANDOR.dat"));  // missing on the server
  EXPECT_EQ(RunPass(), pass_status::EntryFailed);
  EXPECT_THAT(LocalFiles(), ElementsAre("TANDOR.dat", "Tandor10.ini", "TandorLib.ex_",
                                        "TandorLib.exe", "Version.ini", "tool.exe"));
  EXPECT_EQ(ReadFile(mLocal / "TandorLib.exe") + ReadFile(mLocal / "tool.exe"), "newnew");
  EXPECT_THAT(Log(), HasSubstr(" (TANDOR.dat)\r\n"));
}

// A new updater that did not arrive does not take over, not even when an old one is there to
// start (it would run the same failing pass again, for ever): the pass goes on without it. One
// that arrived takes over with the record on disk, the log closed and the settings handed over.
TEST_F(UpdatePassInProcessTest, NewUpdaterReplacesTheWorkingCopyOnlyOnceItArrived) {
  Serve("FTP");
  WriteFile(mApp / "Tandor", "the old updater");
  Publish("readme.txt", "readme\n");
  Publish("after.txt", "after\n");
  const std::string entries = Entry(1, "Readme", "readme.txt") +
                              Entry(2, "Updater", "Tandor", {{"Local Path", "$(AppPath)"}}) +
                              Entry(3, "After", "after.txt");
  PublishFiles(entries);
  EXPECT_EQ(RunPass(), pass_status::EntryFailed);
  EXPECT_EQ(mReplacedBy, std::nullopt);
  EXPECT_THAT(Log(), MatchesRegex(DoneRe("readme.txt") + "Error:[^\r]* \\(Tandor\\)\r\n" +
                                  DoneRe("after.txt")));
  EXPECT_THAT(Record(), Not(HasSubstr("[Updater]")));
  EXPECT_TRUE(mWindow.Has("hide"));

  Publish("Tandor", "#!/bin/sh\nexit 0\n");
  PublishFiles(entries, "Execute=1\r\n");  // the new updater takes over before it
  mWindow.Clear();
  EXPECT_EQ(RunPass(), std::nullopt);
  EXPECT_EQ(mReplacedBy, "C:\\Client\\Tandor Sample");
  EXPECT_THAT(ReadFile(mApp / "Tandor.ini"), HasSubstr("Port=" + mSettings.Port +
                                                       "\r\nUser=tandor\r\nPassword=secret\r\n"
                                                       "Root=/Harrowin\r\n"));
  EXPECT_EQ(::access((mApp / "Tandor").c_str(), X_OK), 0);
  EXPECT_THAT(Record(), HasSubstr("[Updater]\r\nFilename=Tandor\r\nLocal Path=C:\\Client\r\n"));
  EXPECT_FALSE(LogHeldOpen());
  EXPECT_THAT(Log(), MatchesRegex(DoneRe("readme.txt") + DoneRe("Tandor")));
  EXPECT_FALSE(mWindow.Has("hide"));  // the pass did not reach its normal end
}

TEST_F(UpdatePassInProcessTest, WaitsForTheLauncherProcessingMessagesBetweenPolls) {
  // A working copy whose version resource names it Tandor.
  fs::copy_file(fs::path(TANDOR_VERSION_FIXTURES) / "own_version64.o", mApp / "TandorSample");
  int polls = 3;
  mEnv.ProcessRunning = [&](const std::string& name) {
    mWindow.Calls.push_back("running:" + name);
    return polls-- > 0;
  };
  mSettings.Port = "1";  // nothing listens there: the pass stops after connecting
  EXPECT_EQ(RunPass(), std::nullopt);

  ASSERT_GE(mWindow.Calls.size(), 9u);
  mWindow.Calls.resize(9);
  EXPECT_THAT(mWindow.Calls,
              ElementsAre("busy:1", "running:Tandor", "pump", "running:Tandor", "pump",
                          "running:Tandor", "pump", "running:Tandor", "caption:Tandor 1.0.210"));
  EXPECT_EQ(mPass->Status(), pass_status::NoServer);
  EXPECT_EQ(Log(), msg::ConnectionFailed("ftp", "127.0.0.1") + "\r\n");
}

// Manifest paths never lead out of the prefix's drives and the application folder: Windows paths
// resolve as Windows does, and whatever still points elsewhere fails its entry alone.
TEST_F(UpdatePassInProcessTest, EveryWriteStaysInsideThePrefixAndTheApplicationFolder) {
  const fs::path drive = mDir / "prefix" / "drive_c";
  const struct {
    std::string Key, Value;
    std::string Lands;  // below drive_c; empty when the entry is refused
  } cases[] = {
      {"Filename", "../../../../x.txt", "x.txt"},
      {"Local Path", "C:\\..\\..\\x", "x/x.txt"},
      {"Local Path", "", "x.txt"},
      {"Local Path", "\\Sample\\sub", "Sample/sub/x.txt"},
      {"Local Path", "$(AppPath)\\..\\Client", "Client/x.txt"},
      {"Local Path", (mDir / "outside").string(), ""},
      {"Local Path", (mApp / ".." / ".." / ".." / "outside").string(), ""},
      {"Local Path", "Sample", ""},  // relative
  };
  Serve("FTP");
  Publish("x.txt", "x\n");
  WriteFile(mServer / "x.txt", "x\n");  // where the server's own root takes "../" to
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Key + "=" + c.Value);
    fs::remove_all(drive / "x.txt");
    fs::remove(mLocal / "Version.ini");
    mIni.Forget(mLocal / "Version.ini");
    Keys keys = {{c.Key, c.Value}, {"Filename", "x.txt"}};  // the row's key comes first
    keys["Realname"] = keys["Filename"];
    PublishFiles(Entry(1, "X", "x.txt", keys) + Entry(2, "Y", "x.txt"));
    const std::optional<int> status = RunPass();
    EXPECT_EQ(ReadFile(mLocal / "x.txt"), "x\n");  // the second entry is installed all the same
    if (!c.Lands.empty()) {
      EXPECT_EQ(status, pass_status::Completed);
      EXPECT_EQ(ReadFile(drive / c.Lands), "x\n");
      continue;
    }
    EXPECT_EQ(status, pass_status::EntryFailed);
    EXPECT_FALSE(fs::exists(mDir / "outside"));
    EXPECT_THAT(Log(), MatchesRegex("Error:[^\r]*" + Re(msg::OutsideTheMachine("")) +
                                    " \\([^)]*x\\.txt\\)\r\n" + DoneRe("x.txt")));
    EXPECT_THAT(Record(), Not(HasSubstr("[X]")));
  }
}

// A pass that did not install an entry (missing on the server, a broken archive) never notes it
// as installed: the old file and record stay, and the next pass tries again until it succeeds.
TEST_F(UpdatePassInProcessTest, FailedEntriesKeepTheirRecordAndAreTriedAgain) {
  Serve("FTP");
  for (const bool extract : {false, true}) {
    ClearProduct();
    WriteFile(mLocal / "data.bin", "old");
    fs::permissions(mLocal / "data.bin", fs::perms::owner_read);  // read-only, as shipped
    WriteFile(mLocal / "Version.ini", Installed("Data", "data.bin"));
    fs::remove(mProduct / "data.bin");
    if (extract) Publish("data.bin", "this is no zip");
    PublishFiles(Entry(
        1, "Data", "data.bin",
        {{"CopyMode", "Normal"}, {"Product Version", "2.0"}, {"Extract", extract ? "1" : "0"}}));
    EXPECT_EQ(RunPass(), pass_status::EntryFailed);
    EXPECT_TRUE(extract || ReadFile(mLocal / "data.bin") == "old");
    EXPECT_THAT(Record(), HasSubstr("Product Version=1.0\r\n"));

    if (extract) MakePythonZip(mProduct / "data.bin", "z.writestr('inside.txt', 'inside')");
    if (!extract) Publish("data.bin", "new");
    EXPECT_EQ(RunPass(), pass_status::Completed);
    EXPECT_EQ(ReadFile(mLocal / (extract ? "inside.txt" : "data.bin")), extract ? "inside" : "new");
    EXPECT_THAT(Record(), HasSubstr("Product Version=2.0\r\n"));
  }
}

// A manifest that is no manifest ends the pass, rather than installing nothing and calling that
// a success; a byte-order mark does not hide "[Files]" (its program then starts).
TEST_F(UpdatePassInProcessTest, ManifestsThatAreNoManifestsEndThePass) {
  const std::pair<std::string, int> cases[] = {
      {std::string("\177ELF\0\1\2garbage\377\376", 16), pass_status::NoServer},
      {"<!DOCTYPE html>\r\n<html><body>Not Found</body></html>\r\n", pass_status::NoServer},
      {"[Files]\r\nExecute=0\r\n", pass_status::Completed},
      {Entry(1, "Readme", "readme.txt"), pass_status::Completed},
      {"\xEF\xBB\xBF[Files]\r\nExecute=1\r\n" + Entry(1, "Readme", "readme.txt"),
       pass_status::Completed},
  };
  Serve("FTP");
  Publish("readme.txt", "#!/bin/sh\ntouch \"$0.ran\"\n");
  for (const auto& [manifest, status] : cases) {
    SCOPED_TRACE(manifest);
    mWindow.Clear();
    Publish("Tandor10.ini", manifest);
    EXPECT_EQ(RunPass(), status);
    if (status == pass_status::Completed) continue;
    ASSERT_EQ(mWindow.Messages.size(), 1u);
    EXPECT_EQ(mWindow.Messages[0].Text, msg::NotAManifest(kRemote));
    EXPECT_EQ(Log(), "Error:" + msg::NotAManifest(kRemote) + "\r\n");
  }
  EXPECT_TRUE(
      WaitFor([&] { return fs::exists(mLocal / "readme.txt.ran"); }, std::chrono::seconds(5)));
}

// Temporary files of passes that were killed go at the next pass; those of a running process
// and files that merely look alike stay.
TEST_F(UpdatePassInProcessTest, StaleTemporaryFilesAreSweptAtTheStart) {
  Serve("FTP");
  Publish("readme.txt", "new\n");
  PublishFiles(Entry(1, "Readme", "readme.txt") +
               Entry(2, "Other", "readme.txt", {{"Local Path", "C:\\Other"}}));
  const std::string dead = ".tmp" + std::to_string(std::numeric_limits<int>::max() - 1);
  const std::string alive = ".tmp" + std::to_string(::getppid());
  const std::pair<fs::path, bool> files[] = {
      // a file, and whether it stays
      {mLocal / ("readme.txt" + dead + ".0"), false},
      {mApp / ("Tandor.ini" + dead + ".1"), false},
      {mDir / "prefix/drive_c/Other" / ("x" + dead + ".3"), false},
      {mLocal / ("readme.txt" + alive + ".0"), true},
      {mLocal / ("notes" + dead), true},
      {mLocal / "backup.tmp1.x", true}};
  for (const auto& f : files) WriteFile(f.first, "partial");
  EXPECT_EQ(RunPass(), pass_status::Completed);
  for (const auto& [file, stays] : files) EXPECT_EQ(fs::exists(file), stays) << file;
}

// SHA256= (in any case) is checked before the new file replaces the old one: another release's
// file or a key that is no digest never lands.
TEST_F(UpdatePassInProcessTest, DownloadsAreCheckedAgainstTheirSha256) {
  const std::string payload = "release 2\n", hex = Sha256Of(payload);
  std::string upper = hex;
  for (char& ch : upper) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
  const std::pair<std::string, std::string> cases[] = {// published, SHA256=
                                                       {payload, upper},
                                                       {"release 1\n", hex},
                                                       {payload, "not a digest"}};
  Serve("FTP");
  for (const auto& [published, sha256] : cases) {
    SCOPED_TRACE(published + sha256);
    const bool installed = sha256 == upper;
    ClearProduct();
    WriteFile(mLocal / "data.bin", "old");
    Publish("data.bin", published);
    PublishFiles(Entry(1, "Data", "data.bin", {{"SHA256", sha256}}));
    EXPECT_EQ(RunPass(), installed ? pass_status::Completed : pass_status::EntryFailed);
    EXPECT_EQ(ReadFile(mLocal / "data.bin"), installed ? payload : "old");
    EXPECT_THAT(LocalFiles(), Each(Not(HasSubstr(".tmp"))));
    if (installed) continue;
    EXPECT_THAT(Log(), MatchesRegex("Error:.*SHA.* \\(data\\.bin\\)\r\n"));
    EXPECT_THAT(Record(), Not(HasSubstr("[Data]")));
  }
}

// With a manifest key on the machine, only a manifest signed with it, and no older than the last
// one accepted, decides anything.
TEST_F(UpdatePassInProcessTest, SignedManifestsAloneAreTrusted) {
  const KeyPair trusted = GenerateKeyPair(), other = GenerateKeyPair();
  const auto manifest = [](const std::string& serial) {
    return "[Files]\r\n" + serial + Entry(1, "Data", "data.bin");
  };
  const auto sign = [&](const std::string& text) { return *SignDetached(text, trusted.Secret); };
  const std::string s0 = manifest(""), s4 = manifest("Serial=4\r\n"), s5 = manifest("Serial=5\r\n"),
                    s6 = manifest("Serial=6\r\n"), s7 = manifest("Serial=7\r\n");
  const std::string wrong = msg::ManifestSignatureWrong(kRemote);
  const struct {
    std::string Manifest;
    std::optional<std::string> Signature;  // nothing: no .sig on the server
    std::string Refusal;                   // empty: installed
  } cases[] = {
      {s5, sign(s5), ""},
      {s5, sign(s5), ""},  // the same serial again
      {s6, std::nullopt, msg::ManifestUnsigned(kRemote)},
      {s6, *SignDetached(s6, other.Secret), wrong},
      {s6 + "[File2]\r\nKey=Evil\r\n", sign(s6), wrong},
      {s4, sign(s4), msg::ManifestRolledBack(kRemote, "4", 5)},
      {s0, sign(s0), msg::ManifestRolledBack(kRemote, "", 5)},
      {s7, sign(s7), ""},
  };
  mMachine.WriteRegistryValue("SOFTWARE\\Tandor", "ManifestKey", trusted.Public);
  Serve("HTTP");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Manifest + c.Signature.value_or(""));
    ClearProduct();
    mWindow.Clear();
    Publish("data.bin", c.Manifest);
    Publish("Tandor10.ini", c.Manifest);
    fs::remove(mProduct / "Tandor10.ini.sig");
    if (c.Signature) Publish("Tandor10.ini.sig", *c.Signature + "\n");
    if (c.Refusal.empty()) {
      EXPECT_EQ(RunPass(), pass_status::Completed);
      EXPECT_EQ(ReadFile(mLocal / "data.bin"), c.Manifest);
      continue;
    }
    EXPECT_EQ(RunPass(), pass_status::Untrusted);
    EXPECT_THAT(LocalFiles(), Each(Not(HasSubstr("data.bin"))));  // no entry was decided
    ASSERT_EQ(mWindow.Messages.size(), 1u);
    EXPECT_EQ(mWindow.Messages[0].Text, c.Refusal);
    EXPECT_EQ(Log(), "Error:" + c.Refusal + "\r\n");
  }
  EXPECT_EQ(mMachine.ReadRegistryValue("SOFTWARE\\Tandor\\Serial", "Sample"), "7");
}

// A download with SHA256= that breaks off after 1 MiB keeps its part, and the next pass asks only
// for the rest. The server's first half is garbled after the drop, so only a download that
// really resumed can match the digest; a server that ignores Range sends the whole file.
TEST_F(UpdatePassInProcessTest, BrokenDownloadsWithADigestAreResumed) {
  std::string payload(3 << 20, '\0');
  for (std::size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<char>(i * 7 + i / 4099);
  const std::string half = payload.substr(0, payload.size() / 2);  // more than 1 MiB
  const std::string garbled = std::string(1 << 20, 'g') + payload.substr(1 << 20);
  const fs::path partial = mLocal / "data.bin.partial";
  const struct {
    std::string Resumer;    // FTP, HTTP (whose server ignores Range) or nginx
    std::string Kept;       // the part beside the target before the resuming pass; empty: a drop
    std::string Published;  // the server's file for the resuming pass
  } cases[] = {{"nginx", "", garbled},
               {"FTP", half, garbled},
               {"HTTP", std::string(half.size(), 'x'), payload}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Resumer);
    ClearProduct();
    WriteFile(mLocal / "data.bin", "old");
    Publish("data.bin", payload);
    PublishFiles(Entry(1, "Data", "data.bin", {{"SHA256", Sha256Of(payload)}}));
    if (!c.Kept.empty()) WriteFile(partial, c.Kept);
    if (c.Kept.empty()) {  // the first pass: the server drops the connection at half
      Serve("HTTP-drop");
      EXPECT_EQ(RunPass(), pass_status::EntryFailed);
      EXPECT_EQ(ReadFile(mLocal / "data.bin"), "old");
      const std::string kept = ReadFile(partial);  // whole chunks of what arrived
      EXPECT_TRUE(kept.size() >= (1u << 20) && payload.starts_with(kept)) << kept.size();
    }
    Publish("data.bin", c.Published);
    Serve(c.Resumer);
    EXPECT_EQ(RunPass(), pass_status::Completed) << Log();
    EXPECT_TRUE(ReadFile(mLocal / "data.bin") == payload);
    EXPECT_FALSE(fs::exists(partial));
  }
}

}  // namespace
}  // namespace tandor::test
