// Releasing to a fleet, whole passes in-process against an FTP server on 127.0.0.1: staged
// rollouts by machine bucket with a fallback manifest, and releases whose final program is
// watched and put back when it fails.

#include <gmock/gmock.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "support/FtpServer.h"
#include "support/PassHarness.h"
#include "support/ZipTools.h"
#include "ui/Messages.h"
#include "util/Integrity.h"

namespace tandor::test {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::Not;

const std::string kStableRemote = "/Harrowin/Sample/Stable.ini";

struct ProgramReplaced {};

// The release in server folder Sample/<folder> ("r1", "r2"): one file, data.bin, "release 1"
// and so on, at version 1, 2, ..., installed when newer or missing.
std::string DataManifest(const std::string& files, const std::string& folder) {
  const std::string release = folder.substr(1);
  return "[Files]\r\n" + files +
         Entry(1, "Data", "data.bin",
               {{"Server Path", "$Root/Sample/" + folder},
                {"CopyMode", "Normal"},
                {"Product Version", release + ".0"},
                {"SHA256", Sha256Of("release " + release)}});
}

class FleetTest : public ::testing::Test, protected SampleMachine {
 protected:
  FleetTest() {
    fs::create_directories(mApp);
    mSettings.SetPort(mFtp.PortText());
  }

  // Runs a whole pass on `machine` (this fixture's own by default); its status.
  int RunPass(const Prefix* machine = nullptr) {
    mWindow.Clear();
    PassEnvironment env =
        SampleEnvironment(machine ? *machine : mMachine, mIni, mSettings, mWindow);
    env.ReplaceProgram = [](const std::string&) { throw ProgramReplaced{}; };
    UpdatePass pass(env);
    return pass.Sync().Status;
  }
  std::string Log(const Prefix& machine) const {
    return ReadFile(machine.Root() / "drive_c" / "Client" / "Err.log");
  }
  using SampleMachine::Log;
  // The file in C:\Sample of `machine`; "-" when there is none.
  static std::string Installed(const Prefix& machine, const std::string& name) {
    const fs::path file = machine.Root() / "drive_c" / "Sample" / name;
    return fs::exists(file) ? ReadFile(file) : "-";
  }

  FtpServer mFtp{mServer};
};

// A fresh prefix of its own for each of many machines, with the updater's folder.
std::vector<std::unique_ptr<Prefix>> FreshMachines(const fs::path& folder, int count) {
  std::vector<std::unique_ptr<Prefix>> machines;
  for (int i = 0; i < count; ++i) {
    machines.push_back(std::make_unique<Prefix>(Prefix::Open(folder / std::to_string(i))));
    fs::create_directories(machines.back()->Root() / "drive_c" / "Client");
  }
  return machines;
}

// Rollout=P: a fresh machine takes the manifest when its bucket is below P, else the fallback,
// else nothing (status 0, said). The bucket comes from a MachineId made once per prefix, so
// the share is about P and raising P keeps every machine that was in.
// From the log line "배포 대상...: <manifest> (구간 <bucket> ...": the line, the manifest and the
// bucket; empty texts when there is none.
std::array<std::string, 3> TakenManifest(const std::string& log) {
  const std::size_t line = log.find("배포 대상");
  const std::size_t name = line == std::string::npos ? line : log.find(": ", line);
  if (name == std::string::npos) return {};
  const std::size_t end = log.find(' ', name + 2);
  const std::string marker = " (구간 ";
  if (end == std::string::npos || log.compare(end, marker.size(), marker) != 0) return {};
  const std::size_t digits = end + marker.size();
  const std::size_t stop = log.find_first_not_of("0123456789", digits);
  if (stop == digits || stop == std::string::npos) return {};
  return {log.substr(line, stop - line), log.substr(name + 2, end - name - 2),
          log.substr(digits, stop - digits)};
}

TEST_F(FleetTest, RolloutsTakeAStableShareOfFreshMachines) {
  Publish("r2/data.bin", "release 2");
  Publish("r1/data.bin", "release 1");
  Publish("Stable.ini", DataManifest("", "r1"));
  const int kMachines = 40;
  const struct {
    int Percent;
    std::string Fallback;  // empty: none
    bool Fresh;            // new prefixes; else those of the row before
    int Low, High;         // bounds for how many take the manifest
  } rows[] = {
      // n = 40 at p = 0.3: mean 12, sigma 2.9; at p = 0.6: mean 24, sigma 3.1. A correct split
      // falls outside these bounds with a probability of 1.7e-6 (p = 0.3) and 3.2e-7 (p = 0.6):
      // once in some 250,000 runs of the whole table. They still catch a split that sends all
      // machines one way; which way each machine goes is checked against its bucket below.
      {30, "Stable.ini", true, 1, 26},
      {60, "Stable.ini", false, 9, 38},
      // lowered again: the machines above the share go back to the fallback's file
      {30, "Stable.ini", false, 1, 26},
      {30, "", true, 1, 26},
  };
  std::vector<std::unique_ptr<Prefix>> machines;
  std::set<int> before;  // the machines that took the manifest in the row before
  int round = 0;
  for (const auto& row : rows) {
    SCOPED_TRACE(std::to_string(row.Percent) + " " + row.Fallback);
    if (row.Fresh) machines = FreshMachines(mDir / ("round" + std::to_string(++round)), kMachines);
    const std::string fallback = row.Fallback.empty() ? "" : "Fallback=" + row.Fallback + "\r\n";
    Publish("Tandor10.ini",
            DataManifest("Rollout=" + std::to_string(row.Percent) + "\r\n" + fallback, "r2"));
    std::set<int> in;
    std::set<std::string> ids;
    for (int i = 0; i < kMachines; ++i) {
      const Prefix& machine = *machines[i];
      ASSERT_EQ(RunPass(&machine), pass_status::Completed) << Log(machine);
      const std::string id =
          machine.ReadRegistryValue("SOFTWARE\\Tandor", "MachineId").value_or("");
      EXPECT_THAT(id, ::testing::MatchesRegex("[0-9a-f]{32}"));
      ids.insert(id);
      // The log names the manifest taken and the machine's bucket.
      const std::string log = Log(machine);
      const std::array<std::string, 3> said = TakenManifest(log);
      ASSERT_FALSE(said[0].empty()) << log;
      const bool takes = std::stoi(said[2]) < row.Percent;
      if (takes) in.insert(i);
      EXPECT_EQ(said[1], takes                  ? "Tandor10.ini"
                         : row.Fallback.empty() ? "Tandor10.ini"
                                                : row.Fallback);
      EXPECT_EQ(Installed(machine, "data.bin"), takes                  ? "release 2"
                                                : row.Fallback.empty() ? "-"
                                                                       : "release 1");
      if (!takes && row.Fallback.empty()) {
        EXPECT_THAT(log, HasSubstr(msg::RolloutOutside("Tandor10.ini", std::stoi(said[2]), 30)));
      }
    }
    EXPECT_EQ(ids.size(), static_cast<std::size_t>(kMachines));
    EXPECT_GE(static_cast<int>(in.size()), row.Low);
    EXPECT_LE(static_cast<int>(in.size()), row.High);
    if (!row.Fresh) {
      const bool raised = in.size() >= before.size();
      EXPECT_TRUE(raised ? std::includes(in.begin(), in.end(), before.begin(), before.end())
                         : std::includes(before.begin(), before.end(), in.begin(), in.end()));
    }
    before = in;
  }
}

// A rollout that cannot be followed ends the pass before anything is decided (status 2 for what
// the manifest says, 4 for a fallback that is not trusted). A fallback is checked as the
// product's own manifest is, but its serial counts apart: a machine outside takes it although
// it is older than the product's manifest, and a replay of an older fallback is refused.
TEST_F(FleetTest, FallbacksAreCheckedAsTheManifestIs) {
  const KeyPair key = GenerateKeyPair();
  mMachine.WriteRegistryValue("SOFTWARE\\Tandor", "ManifestKey", key.Public);
  const auto sign = [&](const std::string& name, const std::string& text) {
    Publish(name, text);
    Publish(name + ".sig", *SignDetached(text, key.Secret));
  };
  Publish("r2/data.bin", "release 2");
  Publish("r1/data.bin", "release 1");
  const std::string stable = DataManifest("Product=Sample\r\nSerial=3\r\n", "r1");
  const std::string stable2 = DataManifest("Product=Sample\r\nSerial=2\r\n", "r1");
  const std::string other = DataManifest("Product=Other\r\nSerial=3\r\n", "r1");
  const std::string chained =
      DataManifest("Product=Sample\r\nSerial=3\r\nRollout=0\r\nFallback=Nowhere.ini\r\n", "r1");
  const std::string page = "<html><body>Not Found</body></html>";
  Publish("stable", stable);
  const std::string digits = Sha256Hex(*Sha256OfFile(mProduct / "stable")).substr(0, 16);
  const std::string named = "Stable." + digits + ".ini", misnamed = "Stable.0123456789abcdef.ini";
  const struct {
    std::string Files;     // of the product's manifest, beside Product= and Serial=5
    std::string Fallback;  // as served under Name; empty: none
    bool Signed;
    int Status;
    std::string Says;  // the refusal; empty: data.bin is Installed
    std::string Installed;
    std::string Name = "Stable.ini";
  } rows[] = {
      {"Rollout=30%", "", false, 2, msg::RolloutNotAPercent(kRemote, "30%"), "-"},
      {"Rollout=101", "", false, 2, msg::RolloutNotAPercent(kRemote, "101"), "-"},
      {"Verify=soon", "", false, 2, msg::VerifyNotSeconds(kRemote, "soon"), "-"},
      {"Rollout=0\r\nFallback=../Stable.ini", "", false, 2,
       msg::FallbackNotAName(kRemote, "../Stable.ini"), "-"},
      {"Rollout=0\r\nFallback=tandor10.INI", "", false, 2,
       msg::FallbackNotAName(kRemote, "tandor10.INI"), "-"},
      {"Rollout=100\r\nFallback=../Stable.ini", "", false, 2,
       msg::FallbackNotAName(kRemote, "../Stable.ini"), "-"},
      // A name that carries the start of a SHA-256 takes only the manifest that has it.
      {"Rollout=0\r\nFallback=" + misnamed, stable, true, 4,
       msg::FallbackNotTheNamedOne("/Harrowin/Sample/" + misnamed, "0123456789abcdef"), "-",
       misnamed},
      {"Rollout=0\r\nFallback=" + named, stable, true, 0, "", "release 1", named},
      {"Rollout=0\r\nFallback=Stable.ini", page, false, 2, msg::NotAManifest(kStableRemote), "-"},
      {"Rollout=0\r\nFallback=Stable.ini", stable, false, 4, msg::ManifestUnsigned(kStableRemote),
       "-"},
      {"Rollout=0\r\nFallback=Stable.ini", other, true, 4,
       msg::ManifestForAnotherProduct(kStableRemote, "Other", "Sample"), "-"},
      // Older than the product's manifest; its own Rollout= leads nowhere further.
      {"Rollout=0\r\nFallback=Stable.ini", chained, true, 0, "", "release 1"},
      {"Rollout=0\r\nFallback=Stable.ini", stable2, true, 4,
       msg::ManifestRolledBack(kStableRemote, "2", 3), "-"},
      {"Rollout=100\r\nFallback=Stable.ini", stable2, true, 0, "", "release 2"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.Files + " " + row.Fallback);
    ClearProduct();
    sign("Tandor10.ini", DataManifest("Product=Sample\r\nSerial=5\r\n" + row.Files + "\r\n", "r2"));
    fs::remove(mProduct / (row.Name + ".sig"));
    if (row.Signed)
      sign(row.Name, row.Fallback);
    else
      Publish(row.Name, row.Fallback);
    EXPECT_EQ(RunPass(), row.Status) << Log();
    EXPECT_EQ(Installed(mMachine, "data.bin"), row.Installed);
    if (!row.Says.empty()) {
      EXPECT_THAT(Log(), HasSubstr("Error:" + row.Says + "\r\n"));
      EXPECT_THAT(mWindow.Messages, ::testing::ElementsAre(row.Says));
      EXPECT_FALSE(row.Status == 4 && fs::exists(mLocal / "Tandor10.fallback.ini"));
    }
    // Kept under one name of the pass's own, whatever the manifest calls it.
    EXPECT_FALSE(fs::exists(mLocal / row.Name));
  }
  EXPECT_EQ(mMachine.ReadRegistryValue("SOFTWARE\\Tandor\\Serial", "Sample"), "5");
  EXPECT_EQ(mMachine.ReadRegistryValue("SOFTWARE\\Tandor\\Serial\\Sample", "Stable.ini"), "3");
}

// Verify=S watches the final program after an install. One that fails within S seconds (a
// status other than 0, a signal, no start at all) puts every replaced file, extracted member and
// the record back, removes what the release created, and refuses the release: the next pass
// installs nothing until a newer serial comes. One that ends with 0 or still runs keeps the
// release, whose backup stays as the only one. A release that does not arrive whole goes back
// without being refused.
TEST_F(FleetTest, FailedReleasesArePutBackAndRefused) {
  const std::string good = "#!/bin/sh\nexit 0\n";
  const auto publish = [&](int release, const std::string& program, const std::string& files,
                           bool missing = false) {
    const std::string folder = "r" + std::to_string(release);
    const std::string v = std::to_string(release);
    Publish(folder + "/app.sh", program);
    Publish(folder + "/lib.txt", "lib " + v);
    Publish(folder + "/new.txt", "new " + v);
    MakePythonZip(mProduct / folder / "pack.zip",
                  "z.writestr('inside.txt', 'inside " + v + "')\n" +
                      (release > 1 ? "z.writestr('extra.txt', 'extra')" : ""));
    const Keys here = {{"Server Path", "$Root/Sample/" + folder}, {"Product Version", v}};
    Keys pack = here;
    pack["Extract"] = "1";
    std::string entries = Entry(1, "App", "app.sh", here) + Entry(2, "Lib", "lib.txt", here) +
                          Entry(3, "Pack", "pack.zip", pack);
    if (release > 1) entries += Entry(4, "New", "new.txt", here);
    if (missing) entries += Entry(5, "Gone", "gone.txt", here);
    Publish("Tandor10.ini", "[Files]\r\n" + files + "Execute=1\r\n" + entries);
  };
  const std::vector<std::string> files = {"app.sh",     "lib.txt",   "pack.zip",
                                          "inside.txt", "extra.txt", "new.txt"};
  const auto snapshot = [&] {
    std::vector<std::string> state;
    for (const std::string& name : files) state.push_back(Installed(mMachine, name));
    state.push_back(Installed(mMachine, "Version.ini"));
    return state;
  };
  const struct {
    std::string Program;  // release 2's final program
    std::string Verify;
    bool Missing;  // release 2 lists a file the server does not have
    int Status;
    std::string Says;  // in the log; empty: the release is kept
  } rows[] = {
      {"#!/bin/sh\nexit 1\n", "5", false, 5,
       msg::ReleaseRolledBack(msg::FinalProgramFailed("C:\\Sample\\app.sh", 1), "Serial=2")},
      {"#!/bin/sh\nkill -9 $$\n", "5", false, 5,
       msg::ReleaseRolledBack(msg::FinalProgramFailed("C:\\Sample\\app.sh", 137), "Serial=2")},
      {"#!/bin/sh\nexit 0\n", "5", true, 1, msg::ReleaseUndone("Serial=2")},
      // the final program names no entry (the first Execute= counts)
      {"#!/bin/sh\nexit 0\n", "5\r\nExecute=9", false, 5,
       msg::ReleaseRolledBack(msg::NoFinalProgram("9").substr(6), "Serial=2")},
      {"#!/bin/sh\nexit 0\n", "5", false, 0, ""},
      {"#!/bin/sh\nsleep 3\nexit 1\n", "1", false, 0, ""},  // still running when the time is up
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.Program);
    ClearProduct();
    WriteFile(mLocal / "Tandor.Backup" / "mine.txt", "not a release's");
    mMachine.WriteRegistryValue("SOFTWARE\\Tandor\\Refused", "Sample", "");
    publish(1, good, "");
    ASSERT_EQ(RunPass(), pass_status::Completed) << Log();
    const std::vector<std::string> before = snapshot();
    ASSERT_EQ(before[0], good);

    publish(2, row.Program, "Serial=2\r\nVerify=" + row.Verify + "\r\n", row.Missing);
    EXPECT_EQ(RunPass(), row.Status) << Log();
    if (row.Says.empty()) {
      EXPECT_EQ(Installed(mMachine, "lib.txt"), "lib 2");
      EXPECT_EQ(Installed(mMachine, "extra.txt"), "extra");
      EXPECT_THAT(Installed(mMachine, "Version.ini"), HasSubstr("Product Version=2\r\n"));
      // The backup of the last good release, and no other.
      publish(3, good, "Serial=3\r\nVerify=1\r\n");
      EXPECT_EQ(RunPass(), pass_status::Completed) << Log();
      std::vector<std::string> backups;
      for (const auto& entry : fs::directory_iterator(mLocal / "Tandor.Backup"))
        backups.push_back(entry.path().filename());
      EXPECT_THAT(backups, ::testing::UnorderedElementsAre("3", "mine.txt"));
      EXPECT_THAT(ReadFile(mLocal / "Tandor.Backup" / "3" / "Version.ini"),
                  HasSubstr("Product Version=2\r\n"));
      continue;
    }
    EXPECT_EQ(snapshot(), before);
    EXPECT_THAT(Log(), HasSubstr(row.Says + "\r\n"));
    EXPECT_FALSE(fs::exists(mLocal / "Tandor.Backup" / "Journal"));
    // Refused until a newer serial comes; one that did not arrive whole is tried again.
    const bool refused = row.Status == pass_status::RolledBack;
    EXPECT_EQ(RunPass(), refused ? pass_status::Completed : pass_status::EntryFailed) << Log();
    EXPECT_EQ(snapshot(), before);
    EXPECT_EQ(Log().find(msg::ReleaseRefused("Serial=2")) != std::string::npos, refused) << Log();
    publish(3, good, "Serial=3\r\nVerify=5\r\n");
    EXPECT_EQ(RunPass(), pass_status::Completed) << Log();
    EXPECT_EQ(Installed(mMachine, "lib.txt"), "lib 3");
    EXPECT_EQ(Installed(mMachine, "new.txt"), "new 3");
  }
}

// The backup folder is the pass's own: an archive's member cannot land there, and a journal
// found there puts nothing back outside the places a pass may write, nor removes anything there.
TEST_F(FleetTest, TheBackupFolderIsNoPlaceForAReleasesFiles) {
  const fs::path backup = mLocal / "Tandor.Backup", outside = mDir / "outside";
  WriteFile(backup / "9" / "0", "planted");
  WriteFile(backup / "9" / "Kept",
            "0\t" + (outside / "made").string() + "\n-\t" + (outside / "victim").string() + "\n");
  WriteFile(backup / "Journal", "State=Installing\r\nRelease=9\r\nRecord=0\r\n");
  WriteFile(outside / "victim", "mine");
  fs::create_directories(mProduct);
  MakePythonZip(mProduct / "pack.zip", "z.writestr('Tandor.Backup/Journal', 'State=Installing')");
  Publish("Tandor10.ini", "[Files]\r\n" + Entry(1, "Pack", "pack.zip", {{"Extract", "1"}}));
  EXPECT_EQ(RunPass(), pass_status::EntryFailed) << Log();
  EXPECT_THAT(Log(), HasSubstr(msg::OutsideTheMachine((backup / "Journal").string())));
  EXPECT_FALSE(fs::exists(backup / "Journal"));
  EXPECT_FALSE(fs::exists(outside / "made"));
  EXPECT_EQ(ReadFile(outside / "victim"), "mine");
}

// A release that replaces the updater goes on in the new updater's pass, which keeps what the
// first one kept: when its final program fails, the old updater comes back too.
TEST_F(FleetTest, AReleaseGoesOnAcrossTheUpdatersReplacement) {
  WriteFile(mApp / "Tandor", "the old updater");
  WriteFile(mLocal / "app.sh", "#!/bin/sh\nexit 0\n");
  Publish("Tandor", "#!/bin/sh\nexit 0\n");
  Publish("app.sh", "#!/bin/sh\nexit 3\n");
  Publish("Tandor10.ini", "[Files]\r\nExecute=2\r\nSerial=7\r\nVerify=5\r\n" +
                              Entry(1, "Updater", "Tandor",
                                    {{"Local Path", "$(AppPath)"}, {"CopyMode", "Normal"}}) +
                              Entry(2, "App", "app.sh"));
  EXPECT_THROW(RunPass(), ProgramReplaced);
  EXPECT_EQ(ReadFile(mApp / "Tandor"), "#!/bin/sh\nexit 0\n");
  EXPECT_EQ(RunPass(), pass_status::RolledBack) << Log();  // the new updater's pass
  EXPECT_EQ(ReadFile(mApp / "Tandor"), "the old updater");
  EXPECT_EQ(ReadFile(mLocal / "app.sh"), "#!/bin/sh\nexit 0\n");
  EXPECT_FALSE(fs::exists(mLocal / "Version.ini"));
  EXPECT_EQ(mMachine.ReadRegistryValue("SOFTWARE\\Tandor\\Refused", "Sample"), "7");
}

}  // namespace
}  // namespace tandor::test
