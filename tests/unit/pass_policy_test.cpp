// Where a pass may write and how it fetches each entry's file, against real folders and links.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "manifest/FileEntry.h"
#include "platform/Prefix.h"
#include "support/TempDir.h"
#include "sync/EntryRules.h"
#include "sync/FetchPolicy.h"
#include "sync/WritePolicy.h"

namespace tandor {
namespace {

namespace fs = std::filesystem;
using test::WriteFile;

// The prefix's drives and the application folder (here outside the prefix) take writes; the
// backup folder and every link that leads out of them do not, whether the path is written
// through the link or leads into the backup folder through one.
TEST(WritePolicyTest, WritesStayInTheDrivesAndTheApplicationFolder) {
  test::TempDir dir;
  const Prefix machine = Prefix::Open(dir / "prefix");
  const fs::path c = machine.Root() / "drive_c";
  const fs::path app = dir / "app";
  const fs::path backup = c / "Sample" / "Tandor.Backup";
  fs::create_directories(backup);
  fs::create_directories(app);
  fs::create_directories(dir / "elsewhere");
  fs::create_directory_symlink(dir / "elsewhere", c / "out");
  fs::create_directory_symlink(c / "Windows", c / "in");
  fs::create_directory_symlink(backup, c / "Sample" / "kept");
  const struct {
    fs::path Path;
    bool Writable;
  } rows[] = {
      {c / "Sample" / "a.dll", true},
      {c / "Sample" / "new" / "deeper" / "a.dll", true},
      {app / "Tandor.ini", true},
      {app, true},
      {dir / "apple" / "a.dll", false},  // beside the application folder, not in it
      {dir / "elsewhere" / "a.dll", false},
      {"relative/a.dll", false},
      {c / ".." / ".." / "a.dll", false},
      {backup, false},
      {backup / "1" / "a.dll", false},
      {c / "Sample" / "Tandor.Backup2" / "a.dll", true},
      {c / "out" / "a.dll", false},
      {c / "in" / "a.dll", true},
      {c / "Sample" / "kept" / "a.dll", false},
  };
  const WritePolicy writes(machine, app, backup);
  for (const auto& row : rows)
    EXPECT_EQ(writes.IsWritablePlace(row.Path), row.Writable) << row.Path;

  // An entry's targets: its file, its real name, and its extraction folder.
  FileEntry entry;
  entry.Filename = entry.Realname = "a.dll";
  entry.LocalPath = "C:\\Sample";
  EXPECT_EQ(writes.TargetOutside(entry), "");
  entry.Realname = "kept\\a.dll";
  EXPECT_EQ(writes.TargetOutside(entry), "C:\\Sample\\kept\\a.dll");
  entry.Realname = "a.dll";
  entry.Extract = true;
  entry.ExtractTo = "C:\\out";
  EXPECT_EQ(writes.TargetOutside(entry), "C:\\out");
}

PlannedEntry Download(const std::string& name) {
  PlannedEntry planned{.Download = true};
  planned.Entry.Filename = planned.Entry.Realname = name;
  planned.Entry.ServerPath = "/srv";
  return planned;
}

// Which entries a worker fetches ahead, which it leaves to their turn, and which download is
// announced while the file before it is put on disk.
TEST(FetchPolicyTest, EachEntrysFileComesTheWayItsRulesAllow) {
  test::TempDir dir;
  WriteFile(dir / "installed", "v1");
  fs::create_symlink(dir / "installed", dir / "link");
  const auto updater = [](const FileEntry& entry) { return entry.Realname == "TandorSample"; };
  const struct {
    const char* Name;
    PlannedEntry Entry;
    bool Held;     // the launcher did not end
    bool Outside;  // a target lies outside the writable places
    const char* Installed;
    AheadFetch Ahead;
    bool RunsPast;   // later downloads may go ahead of this entry's turn
    bool Announces;  // the next download is announced during this one
  } rows[] = {
      {"plain", Download("a.dll"), false, false, "missing", AheadFetch::Ahead, true, true},
      {"not installed", PlannedEntry{}, false, false, "missing", AheadFetch::None, true, false},
      {"outside", Download("a.dll"), false, true, "missing", AheadFetch::Refused, true, true},
      {"updater", Download("TandorSample"), false, false, "missing", AheadFetch::Ahead, false,
       false},
      {"updater held", Download("TandorSample"), true, false, "missing", AheadFetch::Refused, false,
       false},
  };
  std::vector<PlannedEntry> shaped = {Download("run.exe"), Download("wait.exe"), Download("zip"),
                                      Download("reg.dll"), Download("patch"),    Download("patch")};
  shaped[0].Entry.Execute = "1";
  shaped[1].Entry.Execute = "1";
  shaped[1].Entry.Wait = true;
  shaped[2].Entry.Extract = true;
  shaped[3].Entry.SelfRegister = true;
  for (FileEntry* entry : {&shaped[4].Entry, &shaped[5].Entry}) {
    entry->Sha256 = std::string(64, 'a');
    entry->Deltas = {EntryDelta{{}, "patch.zpatch"}};
  }
  for (const auto& row : rows) {
    const FetchPolicy policy(updater, row.Held);
    EXPECT_EQ(policy.Ahead(row.Entry, row.Outside, dir / row.Installed), row.Ahead) << row.Name;
    EXPECT_EQ(policy.MayRunPast(row.Entry.Entry), row.RunsPast) << row.Name;
    const std::vector<PlannedEntry> entries = {row.Entry, PlannedEntry{}, Download("next")};
    EXPECT_EQ(policy.Following(entries, 0), row.Announces ? "/srv/next" : "") << row.Name;
  }

  const FetchPolicy policy(updater, false);
  // A program that starts is no reason to hold the downloads after it; one the pass waits for
  // is. Nothing is announced after an entry whose step goes on past its download.
  const bool runsPast[] = {true, false, true, true, true, true};
  for (std::size_t i = 0; i + 1 < shaped.size(); ++i) {
    EXPECT_EQ(policy.MayRunPast(shaped[i].Entry), runsPast[i]) << shaped[i].Entry.Filename;
    EXPECT_EQ(policy.Following(shaped, i), "") << shaped[i].Entry.Filename;
  }
  // A download that may resume a kept part is not announced (above, after the first patch). A
  // patch is made at the entry's turn from an installed file, never from a link or nothing.
  EXPECT_EQ(policy.Ahead(shaped[4], false, dir / "installed"), AheadFetch::AtTurn);
  EXPECT_EQ(policy.Ahead(shaped[4], false, dir / "link"), AheadFetch::Ahead);
  EXPECT_EQ(policy.Ahead(shaped[4], false, dir / "missing"), AheadFetch::Ahead);
}

}  // namespace
}  // namespace tandor
