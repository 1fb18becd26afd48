// The update pass run inside the test process: stopping, handing over, waiting for the launcher,
// where it writes, running ahead, failures and small disks, manifests that are none.

#include "integration/InProcessPass.h"

namespace tandor::test {
namespace {

// EXIT during a transfer stops the pass there and leaves no partial file; what came before is on
// disk and the log is closed.
TEST_F(UpdatePassInProcessTest, ExitDuringATransferStopsThePassThere) {
  for (const char* name : {"first.txt", "later.txt"}) Publish(name, name);
  Publish("big.bin", std::string(3 * 10240, 'b'));
  PublishFiles(Entry(1, "First", "first.txt") + Entry(2, "Big", "big.bin") +
               Entry(3, "Later", "later.txt"));
  mWindow.AfterProgress = [&](std::int64_t, std::int64_t total) {  // EXIT, as the window does
    if (total == 3 * 10240) mWindow.ExitPressed = true;
  };
  // One connection shows big.bin arriving; several have it (or part of it) there before its turn.
  for (const auto& [method, connections, stop] : {std::tuple{"FTP", "1", "progress:10240/30720"},
                                                  {"HTTP", "1", "progress:10240/30720"},
                                                  {"FTP", "8", "progress:[0-9]+/30720"},
                                                  {"HTTP", "8", "progress:[0-9]+/30720"}}) {
    SCOPED_TRACE(std::string(method) + " " + connections);
    Serve(method);
    mSettings.SetConnections(connections);
    ClearProduct();
    EXPECT_EQ(RunPass(), pass_status::EntryFailed);
    EXPECT_THAT(mWindow.Calls.back(), MatchesRegex(stop));
    EXPECT_THAT(LocalFiles(), ElementsAre("Tandor10.ini", "Version.ini", "first.txt"));
    EXPECT_THAT(Log(), MatchesRegex("first\\.txt [^\r]*\r\n"));
    EXPECT_FALSE(LogHeldOpen());
  }
}

// A new updater that did not arrive does not take over, not even when an old one is there to
// start (it would run the same failing pass again, for ever). One that arrived takes over with
// the record on disk, the log closed and the settings handed over.
TEST_F(UpdatePassInProcessTest, NewUpdaterReplacesTheWorkingCopyOnlyOnceItArrived) {
  Serve("FTP");
  WriteFile(mApp / "Tandor", "the old updater");
  Publish("after.txt", "after\n");
  const std::string entries = Entry(1, "Updater", "Tandor", {{"Local Path", "$(AppPath)"}}) +
                              Entry(2, "After", "after.txt");
  PublishFiles(entries);
  EXPECT_EQ(RunPass(), pass_status::EntryFailed);
  EXPECT_EQ(mReplacedBy, std::nullopt);
  EXPECT_THAT(Log(), MatchesRegex("Error:[^\r]* \\(Tandor\\)\r\nafter\\.txt [^\r]*\r\n"));

  Publish("Tandor", "#!/bin/sh\nexit 0\n");
  PublishFiles(entries, "Execute=1\r\n");  // the new updater takes over before it
  EXPECT_EQ(RunPass(), std::nullopt);
  EXPECT_EQ(mReplacedBy, "C:\\Client\\Tandor Sample");
  EXPECT_THAT(ReadFile(mApp / "Tandor.ini"),
              HasSubstr("Port=" + mSettings.PortText + "\r\nUser=tandor\r\nPassword=secret\r\n"));
  EXPECT_EQ(::access((mApp / "Tandor").c_str(), X_OK), 0);
  EXPECT_THAT(Record(), HasSubstr("[Updater]\r\nFilename=Tandor\r\nLocal Path=C:\\Client\r\n"));
  EXPECT_FALSE(LogHeldOpen());
}

// The working copy waits for its launcher to end, the window answering between polls; then a
// server nobody answers ends the pass.
TEST_F(UpdatePassInProcessTest, WaitsForTheLauncherThenFindsNoServer) {
  // A working copy whose version resource names it Tandor.
  fs::copy_file(fs::path(TANDOR_VERSION_FIXTURES) / "own_version64.o", mApp / "TandorSample");
  int polls = 2;
  mEnv.LauncherRunning = [&](const fs::path& launcher) {
    mWindow.Calls.push_back("running:" + launcher.lexically_relative(mDir.Path()).string());
    return polls-- > 0;
  };
  mSettings.SetPort("1");
  EXPECT_EQ(RunPass(), std::nullopt);  // the window waits for EXIT
  mWindow.Calls.resize(5);
  EXPECT_THAT(mWindow.Calls, ElementsAre("busy:1", "running:prefix/drive_c/Client/Tandor", "pump",
                                         "running:prefix/drive_c/Client/Tandor", "pump"));
  EXPECT_EQ(Log(), msg::ConnectionFailed("ftp", "127.0.0.1") + "\r\n");
}

// A launcher that does not end is waited for only so long, and said so; the pass then installs
// everything but the updater itself, which the next pass replaces.
TEST_F(UpdatePassInProcessTest, ALauncherThatStaysHoldsOnlyTheUpdatersReplacement) {
  fs::copy_file(fs::path(TANDOR_VERSION_FIXTURES) / "own_version64.o", mApp / "TandorSample");
  mEnv.LauncherRunning = [](const fs::path&) { return true; };
  mEnv.LauncherWaitLimit = std::chrono::milliseconds(1200);
  Serve("FTP");
  Publish("Tandor", "#!/bin/sh\nexit 0\n");
  Publish("after.txt", "after");
  PublishFiles(Entry(1, "Updater", "Tandor", {{"Local Path", "$(AppPath)"}}) +
               Entry(2, "After", "after.txt"));
  EXPECT_EQ(RunPass(), pass_status::EntryFailed);
  EXPECT_EQ(mReplacedBy, std::nullopt);
  EXPECT_FALSE(fs::exists(mApp / "Tandor"));
  EXPECT_EQ(ReadFile(mLocal / "after.txt"), "after");
  EXPECT_THAT(Record(), Not(HasSubstr("[Updater]")));
  EXPECT_THAT(Log(),
              ::testing::StartsWith(msg::WaitingForLauncher("C:\\Client\\Tandor") + "\r\n" +
                                    msg::LauncherStillRuns("C:\\Client\\Tandor", 1) +
                                    "\r\nError:" + msg::UpdaterNotReplaced("C:\\Client\\Tandor")));
}

// An installed file stays until its replacement has arrived; a copy under a substitute name goes
// before the download, except for the updater's own files.
TEST_F(UpdatePassInProcessTest, OnlyCopiesUnderASubstituteNameGoFirst) {
  Serve("FTP");
  for (const char* name : {"TandorLib.ex_", "tool.ex_", "tool.exe"})
    WriteFile(mLocal / name, "old");
  Publish("tool.ex_", "new");
  PublishFiles(Entry(1, "Lib", "TandorLib.ex_", {{"Realname", "TandorLib.exe"}}) +  // missing
               Entry(2, "Tool", "tool.ex_", {{"Realname", "tool.exe"}}));
  EXPECT_EQ(RunPass(), pass_status::EntryFailed);
  EXPECT_THAT(LocalFiles(),
              ElementsAre("Tandor10.ini", "TandorLib.ex_", "Version.ini", "tool.exe"));
  EXPECT_EQ(ReadFile(mLocal / "tool.exe"), "new");
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
      {"Local Path", "$(AppPath)\\..\\Client", "Client/x.txt"},
      {"Local Path", (mApp / ".." / ".." / ".." / "outside").string(), ""},
      {"Local Path", "Sample", ""},  // relative
      // a link to a folder outside, however it got there, carries no write out
      {"Local Path", "C:\\Sample\\lnk", ""},
      {"Local Path", "C:\\Sample\\lnk\\deeper", ""},
      // nor into the folder that keeps what a later pass puts back, by name or by a link
      {"Local Path", "C:\\Sample\\Tandor.Backup\\9", ""},
      {"Local Path", "C:\\Sample\\back", ""},
  };
  Serve("FTP");
  Publish("x.txt", "x\n");
  WriteFile(mServer / "x.txt", "x\n");  // where the server's own root takes "../" to
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Key + "=" + c.Value);
    fs::remove_all(drive / "x.txt");
    ClearProduct();
    fs::create_directories(mDir / "outside");
    fs::create_directory_symlink(mDir / "outside", mLocal / "lnk");
    fs::create_directories(mLocal / "Tandor.Backup");
    fs::create_directory_symlink(mLocal / "Tandor.Backup", mLocal / "back");
    Keys keys = {{c.Key, c.Value}, {"Filename", "x.txt"}};  // the row's key comes first
    keys["Realname"] = keys["Filename"];
    // The entries around it are installed all the same, also the one after a refused entry
    // whose request went out ahead.
    PublishFiles(Entry(1, "W", "x.txt") + Entry(2, "X", "x.txt", keys) + Entry(3, "Y", "x.txt"));
    EXPECT_EQ(RunPass(), c.Lands.empty() ? pass_status::EntryFailed : pass_status::Completed);
    EXPECT_EQ(ReadFile(mLocal / "x.txt"), "x\n");
    EXPECT_THAT(Record(), AllOf(HasSubstr("[W]"), HasSubstr("[Y]")));
    if (!c.Lands.empty()) {
      EXPECT_EQ(ReadFile(drive / c.Lands), "x\n");
      continue;
    }
    EXPECT_TRUE(fs::is_empty(mDir / "outside"));
    EXPECT_TRUE(fs::is_empty(mLocal / "Tandor.Backup"));
    EXPECT_THAT(Log(), HasSubstr(msg::OutsideTheMachine("")));
    EXPECT_THAT(Record(), Not(HasSubstr("[X]")));
  }
}

// Downloads run ahead of the entry loop over several connections, but everything the pass does
// stays in manifest order: a program it waits for sees the files before it and none after it
// (nor any half-fetched one), a download that failed ahead is reported at its own turn, and the
// log and the record follow the manifest.
TEST_F(UpdatePassInProcessTest, DownloadsRunAheadButInstallInOrder) {
  std::string entries;
  int number = 0;
  for (const std::string name : {"a1", "a2", "a3", "a4", "a5"}) {
    if (name != "a3") Publish(name + ".txt", name);  // a3 is missing on the server, mostly
    entries += Entry(++number, name, name + ".txt");
  }
  Publish("look.sh", "#!/bin/sh\nls \"$(dirname \"$0\")\" > \"$0.seen\"\n");
  entries += Entry(++number, "Look", "look.sh", {{"Execute", "1"}, {"Wait", "1"}});
  for (int i = 1; i <= 12; ++i) {
    const std::string name = "b" + std::to_string(i) + ".txt";
    Publish(name, std::string(30000, 'b'));
    entries += Entry(++number, name, name);
  }
  PublishFiles(entries);
  // A server that takes two connections (FTP-2) turns the other workers away; it gets a3, as
  // after a failed transfer libcurl opens a new connection, which such a server may refuse
  // while it still counts the old one. One that holds the others unanswered (HTTP-2) loses
  // each of those workers once, not once per file. Workers that find no room on the disk
  // (HTTP-noroom) leave their files to the pass's own turns. vsftpd serves it all passive only,
  // active only, and taking two connections (421 to the others, which are then not used).
  // A file whose server stalls once it has begun (FTP-stall: b5.txt) is asked for once only. A
  // server that never answers QUIT (FTP-noquit) does not hold the end of the pass for the idle
  // limit, once per connection. One that answers 503 beyond two requests at once (nginx-2)
  // loses no file: turned-away workers end and their files wait for a free connection.
  const auto main = std::this_thread::get_id();
  for (const auto& [method, connections] : {std::pair{"FTP", "1"},
                                            {"FTP", "8"},
                                            {"HTTP", "8"},
                                            {"FTP", "3"},
                                            {"FTP-2", "8"},
                                            {"HTTP-2", "8"},
                                            {"HTTP-noroom", "8"},
                                            {"FTP-stall", "8"},
                                            {"FTP-noquit", "8"},
                                            {"nginx-2", "8"},
                                            {"vsftpd-passive", "8"},
                                            {"vsftpd-active", "8"},
                                            {"vsftpd-2", "8"}}) {
    SCOPED_TRACE(std::string(method) + " " + connections);
    if (std::string_view(method).starts_with("vsftpd") && ::geteuid() != 0) continue;  // root only
    const std::string kind = method;
    const bool whole = kind.find('-') != std::string::npos;
    if (whole) Publish("a3.txt", "a3");
    Serve(method);
    mSettings.SetConnections(connections);
    mEnv.FreeSpace = [kind, main](const fs::path&) -> std::uint64_t {
      return kind == "HTTP-noroom" && std::this_thread::get_id() != main ? 0 : UINT64_MAX;
    };
    ClearProduct();
    fs::remove(mServer.string() + ".log");
    const bool stall = kind == "FTP-stall";
    mEnv.TransferIdleLimit = std::chrono::seconds(kind == "FTP-noquit" ? 30 : 3);
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(RunPass(), whole && !stall ? pass_status::Completed : pass_status::EntryFailed)
        << Log();
    if (kind == "nginx-2") {
      EXPECT_THAT(Log(), Not(HasSubstr("Error:")));
    }
    if (kind == "FTP-noquit") {
      EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(15));
    }
    if (stall) {  // a worker's file taken back before its first byte reached the pass (a
                  // loaded machine: the server may have sent it) is asked for once more, by the
                  // pass itself; never a third time
      const std::string asked = ReadFile(mServer.string() + ".log");
      EXPECT_THAT(asked, MatchesRegex("(RETR b5.txt\n(sent b5.txt\n)?){0,1}"
                                      "RETR b5.txt\nsent b5.txt\n"))
          << asked;
    }
    if (kind == "HTTP-2") {
      const std::string requests = mHttp->RequestLog();
      std::size_t held = 0;
      for (std::size_t at = 0; (at = requests.find("held\n", at)) != std::string::npos; ++at)
        ++held;
      EXPECT_LE(held, 7u);  // 8 workers and the pass, 2 served
    }
    const std::string seen = ReadFile(mLocal / "look.sh.seen");
    for (const char* there : {"a1.txt", "a2.txt", "a4.txt", "a5.txt", "look.sh"})
      EXPECT_THAT(seen, HasSubstr(there));
    EXPECT_THAT(seen, Not(HasSubstr("b")));
    EXPECT_THAT(seen, Not(HasSubstr("tmp")));
    EXPECT_THAT(LocalFiles(), Each(Not(HasSubstr("tmp"))));
    EXPECT_EQ(ReadFile(mLocal / "b12.txt"), std::string(30000, 'b'));
    EXPECT_EQ(Record().find("[a3]") != std::string::npos, whole);
    EXPECT_THAT(Record(), HasSubstr("[b12.txt]"));
    // The log in manifest order.
    const std::string log = Log();
    std::size_t at = 0;
    for (const char* next : {"a1.txt ", "a2.txt ", whole ? "a3.txt " : "(a3.txt)", "a4.txt ",
                             "a5.txt ", "look.sh ", "b1.txt ", "b2.txt ", "b11.txt ", "b12.txt "}) {
      const std::size_t found = log.find(next, at);
      ASSERT_NE(found, std::string::npos) << next << " after " << at << " in\n" << log;
      at = found;
    }
  }
}

// Files fetched ahead hold room until their turns; an entry that then finds too little for its
// own file gets theirs, and the pass goes on one file at a time: on a nearly full disk every
// entry that one download at a time installs is installed. The first entry is fetched at its
// turn (its patch is missing), after the others arrived ahead.
TEST_F(UpdatePassInProcessTest, DownloadsAheadLeaveTheRoomTheirTurnsNeed) {
  constexpr std::uint64_t kFile = 1 << 20;
  const std::string old(kFile, 'o'), fresh(kFile, 'n');
  std::string entries;
  for (int i = 1; i <= 6; ++i) {
    const std::string name = "f" + std::to_string(i) + ".bin";
    Publish(name, fresh);
    Keys keys = {{"SHA256", Sha256Of(fresh)}};
    if (i == 1) keys["Delta1"] = Sha256Of(old) + ",f1.missing.zpatch";
    entries += Entry(i, name, name, keys);
  }
  PublishFiles(entries);
  // The disk: the margin, the six old files (and the manifest) and five and a half more: room
  // for five files ahead, or for any one at a time.
  const auto used = [this] {
    std::uint64_t bytes = 0;
    for (const auto& item : fs::recursive_directory_iterator(mLocal)) {
      if (item.is_regular_file()) bytes += item.file_size();
    }
    return bytes;
  };
  const std::uint64_t disk = FreeSpaceMargin + 6 * kFile + 11 * kFile / 2;
  const auto main = std::this_thread::get_id();
  Serve("nginx");
  mSettings.SetConnections("8");
  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE(round);
    ClearProduct();
    for (int i = 1; i <= 6; ++i) WriteFile(mLocal / ("f" + std::to_string(i) + ".bin"), old);
    bool waited = false;
    mEnv.FreeSpace = [&](const fs::path&) -> std::uint64_t {
      // The pass's own first look after the manifest waits until the five files ahead are in.
      if (!fs::exists(mLocal / "Tandor10.ini")) return disk - std::min(disk, used());
      for (int i = 0; std::this_thread::get_id() == main && !waited && i < 500; ++i) {
        if (used() >= 11 * kFile) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
      waited = waited || std::this_thread::get_id() == main;
      const std::uint64_t now = used();
      return now < disk ? disk - now : 0;
    };
    EXPECT_EQ(RunPass(), pass_status::Completed) << Log();
    EXPECT_THAT(Log(), HasSubstr(msg::NoRoomAhead("f1.bin")));
    for (int i = 1; i <= 6; ++i) {
      EXPECT_TRUE(ReadFile(mLocal / ("f" + std::to_string(i) + ".bin")) == fresh) << i;
    }
    EXPECT_THAT(LocalFiles(), Each(Not(HasSubstr("tmp"))));
  }
  mEnv.FreeSpace = {};
}

// A pass that did not install an entry (missing on the server, a broken archive) never notes it
// as installed: the old file and record stay, and the next pass tries again until it succeeds.
TEST_F(UpdatePassInProcessTest, FailedEntriesKeepTheirRecordAndAreTriedAgain) {
  // Room for the download of a small archive, but not for the 10 MiB it holds.
  const std::uint64_t room = FreeSpaceMargin + (1 << 20);
  const struct {
    bool Extract;
    std::string Published;  // empty: missing on the server
    std::uint64_t Free;
    std::string Says;  // in the message box and the log; empty: no box
  } cases[] = {
      {false, "", UINT64_MAX, ""},
      {true, "this is no zip", UINT64_MAX, msg::kAskTheAdministrator},
      {true, "zip", room, msg::TooLittleSpace(10 << 20, FreeSpaceMargin, room)},
  };
  Serve("FTP");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Published);
    const bool extract = c.Extract;
    ClearProduct();
    WriteFile(mLocal / "data.bin", "old");
    fs::permissions(mLocal / "data.bin", fs::perms::owner_read);  // read-only, as shipped
    WriteFile(mLocal / "Version.ini",
              "[Data]\r\nFilename=data.bin\r\nLocal Path=C:\\Sample\r\n"
              "File Version=\r\nProduct Version=1.0\r\n");
    fs::remove(mProduct / "data.bin");
    if (c.Published == "zip")
      MakePythonZip(mProduct / "data.bin",
                    "z.writestr('inside.txt', bytes(10 << 20), zipfile.ZIP_DEFLATED)");
    else if (!c.Published.empty())
      Publish("data.bin", c.Published);
    PublishFiles(Entry(
        1, "Data", "data.bin",
        {{"CopyMode", "Normal"}, {"Product Version", "2.0"}, {"Extract", extract ? "1" : "0"}}));
    mEnv.FreeSpace = [&c](const fs::path&) { return c.Free; };
    EXPECT_EQ(RunPass(), pass_status::EntryFailed);
    EXPECT_TRUE(extract || ReadFile(mLocal / "data.bin") == "old");
    EXPECT_THAT(Record(), HasSubstr("Product Version=1.0\r\n"));
    if (!c.Says.empty()) {
      ASSERT_EQ(mWindow.Messages.size(), 1u);
      EXPECT_THAT(mWindow.Messages[0], HasSubstr(c.Says));
      EXPECT_THAT(mWindow.Messages[0], Not(HasSubstr(msg::CloseIfRunning("data.bin"))));
      if (c.Free != UINT64_MAX) {
        EXPECT_THAT(Log(), HasSubstr(c.Says));  // the sizes, for later
      }
    }

    mEnv.FreeSpace = {};
    if (extract) MakePythonZip(mProduct / "data.bin", "z.writestr('inside.txt', 'inside')");
    if (!extract) Publish("data.bin", "new");
    EXPECT_EQ(RunPass(), pass_status::Completed);
    EXPECT_EQ(ReadFile(mLocal / (extract ? "inside.txt" : "data.bin")), extract ? "inside" : "new");
    EXPECT_THAT(Record(), HasSubstr("Product Version=2.0\r\n"));
  }
}

// A small disk keeps a margin in proportion (2 MiB of 64 MiB): a small file installs, an archive
// that cannot fit is refused before it fills the disk, and the entries after it still install.
// A manifest that cannot be stored ends the pass as any manifest failure does.
TEST_F(UpdatePassInProcessTest, SmallDisksTakeWhatFits) {
  Serve("FTP");
  Publish("small.txt", std::string(100, 's'));
  Publish("after.txt", "after");
  MakePythonZip(mProduct / "big.zip",
                "z.writestr('inside.bin', bytes(70 << 20), zipfile.ZIP_DEFLATED)");
  PublishFiles(Entry(1, "small", "small.txt") + Entry(2, "big", "big.zip", {{"Extract", "1"}}) +
               Entry(3, "after", "after.txt"));
  mEnv.FreeSpace = [](const fs::path&) { return std::uint64_t{0}; };
  EXPECT_EQ(RunPass(), pass_status::NoServer);
  const std::string noRoom = msg::ManifestNotStored(kRemote, "Tandor10.ini: not enough room");
  const std::string log = Log();
  EXPECT_EQ(log.substr(0, noRoom.size() + 6), "Error:" + noRoom) << log;
  EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 1);
  mEnv.FreeSpace = {};

  ClearProduct();
  if (::mount("tmpfs", mLocal.c_str(), "tmpfs", 0, "size=64m") != 0)
    GTEST_SKIP() << "no small file system to try: mounting needs root";
  struct Unmount {
    const fs::path& Folder;
    ~Unmount() { ::umount2(Folder.c_str(), MNT_DETACH); }
  } unmount{mLocal};
  WriteFile(mLocal / "ballast", std::string(2 << 20, 'x'));  // 62 MiB free
  EXPECT_EQ(RunPass(), pass_status::EntryFailed) << Log();
  EXPECT_EQ(ReadFile(mLocal / "small.txt"), std::string(100, 's'));
  EXPECT_EQ(ReadFile(mLocal / "after.txt"), "after");
  EXPECT_FALSE(fs::exists(mLocal / "inside.bin"));
  EXPECT_THAT(Log(), HasSubstr("여유분 2.0 MB"));
}

// A manifest that is no manifest ends the pass, rather than installing nothing and calling that
// a success; a byte-order mark does not hide "[Files]" (its program then starts).
TEST_F(UpdatePassInProcessTest, ManifestsThatAreNoManifestsEndThePass) {
  const std::pair<std::string, int> cases[] = {
      {std::string("\177ELF\0\1\2garbage\377\376", 16), pass_status::NoServer},
      {"<!DOCTYPE html>\r\n<html><body>Not Found</body></html>\r\n", pass_status::NoServer},
      {"\xEF\xBB\xBF[Files]\r\nExecute=1\r\n" + Entry(1, "Readme", "readme.txt"),
       pass_status::Completed},
  };
  Serve("FTP");
  Publish("readme.txt", "#!/bin/sh\ntouch \"$0.ran\"\n");
  for (const auto& [manifest, status] : cases) {
    SCOPED_TRACE(manifest);
    Publish("Tandor10.ini", manifest);
    EXPECT_EQ(RunPass(), status);
    if (status != pass_status::Completed) ExpectRefusal(msg::NotAManifest(kRemote));
  }
  mSettings.SetMethod("Gopher");  // refused before any connection; the window waits for EXIT
  EXPECT_EQ(RunPass(), std::nullopt);
  EXPECT_EQ(Log(), "Error:" + msg::UnknownMethod("Gopher") + "\r\n");
  EXPECT_TRUE(
      WaitFor([&] { return fs::exists(mLocal / "readme.txt.ran"); }, std::chrono::seconds(5)));
}

}  // namespace
}  // namespace tandor::test
