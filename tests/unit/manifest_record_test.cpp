// The installation record: four keys per entry, and no disk write for a pass that changes
// nothing.

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "manifest/InstallationRecord.h"
#include "settings/IniStore.h"
#include "support/TempDir.h"

namespace tandor {
namespace {

using test::ReadFile;
using test::TempDir;

FileEntry Entry(const std::string& key, const std::string& version) {
  FileEntry entry;
  entry.Key = key;
  entry.Filename = key + "_";
  entry.Realname = key;
  entry.LocalPath = "C:\\Sample";
  entry.FileVersion = version;
  entry.ProductVersion = "P" + version;
  entry.Register = "$(DLLSelfRegister)";  // not part of the record
  return entry;
}

class RecordTest : public ::testing::Test {
 protected:
  // One pass: a store of its own, as every run of the updater has, over the same file.
  long Pass(const std::vector<FileEntry>& entries) {
    IniStore ini(CodePage(), [this] { return mNow; });
    InstallationRecord record(ini, mFile);
    for (const FileEntry& entry : entries) {
      record.Write(entry);
      mNow += std::chrono::milliseconds(10);
    }
    record.Flush();
    return ini.DiskWrites();
  }

  TempDir mDir;
  std::filesystem::path mFile = mDir / "Version.ini";
  std::chrono::steady_clock::time_point mNow{};
};

TEST_F(RecordTest, KeyHoldingABracketReadsBack) {
  Pass({Entry("lib[x]86.dll", "3.0")});
  IniStore ini{CodePage()};
  InstallationRecord record(ini, mFile);
  EXPECT_EQ(record.FileVersion("lib[x]86.dll"), "3.0");
  EXPECT_EQ(record.ProductVersion("lib[x]86.dll"), "P3.0");
}

TEST_F(RecordTest, AnUnchangedPassWritesNothing) {
  std::vector<FileEntry> entries;
  for (int n = 0; n < 500; ++n) entries.push_back(Entry("f" + std::to_string(n), "1.0"));
  entries[7].ProductVersion.clear();  // empty values count as unchanged too
  ASSERT_GE(Pass(entries), 1);
  const std::string first = ReadFile(mFile);
  const auto written = std::filesystem::last_write_time(mFile);

  EXPECT_EQ(Pass(entries), 0);
  EXPECT_EQ(std::filesystem::last_write_time(mFile), written);
  EXPECT_EQ(ReadFile(mFile), first);

  entries[42].FileVersion = "1.1";
  EXPECT_EQ(Pass(entries), 1);
  IniStore ini{CodePage()};
  InstallationRecord after(ini, mFile);
  EXPECT_EQ(after.FileVersion("F42"), "1.1");
  EXPECT_EQ(after.ProductVersion("f42"), "P1.0");
  EXPECT_EQ(after.FileVersion("f41"), "1.0");
  EXPECT_EQ(after.FileVersion("missing"), "");
}

}  // namespace
}  // namespace tandor
