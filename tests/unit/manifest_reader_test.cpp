// Reading the manifest and writing the installation record, on real files.

#include "manifest/ManifestReader.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <tuple>
#include <vector>

#include "manifest/InstallationRecord.h"
#include "support/PassHarness.h"
#include "util/PathMacros.h"

namespace tandor {
namespace {

namespace fs = std::filesystem;

class ManifestReaderTest : public ::testing::Test {
 protected:
  // A file of its own per call: the store does not look again at a file it read a moment ago.
  ManifestReader Reader(const std::string& text) {
    fs::path file = mDir / std::to_string(++mFiles) / "Tandor10.ini";
    test::WriteFile(file, text);
    return ManifestReader(mIni, file, mSettings, "C:\\Tools");
  }

  test::TempDir mDir;
  IniStore mIni{CodePage()};
  ClientSettings mSettings = test::SampleSettings();
  int mFiles = 0;
};

// Execute is a whole number up to 32767 or is reported; its options are passed on as written.
TEST_F(ManifestReaderTest, FilesSettings) {
  const std::tuple<const char*, const char*> cases[] = {
      {"", "0 1  "},
      {"Execute=32767\r\n", "32767 1 32767 "},
      {"Execute=2x\r\n", "0 0 2x "},
      {"Execute=32768\r\n", "0 0 32768 "},
      {"execute option=$(AppPath)\\x /auto\r\n", "0 1  $(AppPath)\\x /auto"}};
  for (auto [lines, expected] : cases) {
    FilesSettings f = Reader(std::string("[files]\r\n") + lines).ReadFilesSettings();
    EXPECT_EQ(std::to_string(f.Execute) + " " + std::to_string(f.ExecuteIsNumber) + " " +
                  f.ExecuteText + " " + f.ExecuteOption,
              expected);
  }
}

TEST_F(ManifestReaderTest, ReadsEveryKeyUnderAnyCapitals) {
  const std::string shuffled =
      "[Files]\r\n[file1]\r\nblock=00-2B\r\nallow=00-1A\r\nextract to=$(AppPath)/sub\r\n"
      "extract=1\r\nwait=1\r\nexecute option=$(WinPath)\\a.txt\r\nexecute=1\r\ncopymode=Normal\r\n"
      "register=$(DLLSelfRegister)\r\nproduct version=1.00.0210\r\nfile version=1.0.0.210\r\n"
      "local path=$(AppPath)\r\nserver path=/Harrowin/Sample\r\ncaption=Sample\r\n"
      "realname=Sample.exe\r\nfilename=Sample.ex_\r\nkey=Sample.exe\r\n";
  // clang-format off
  const FileEntry expected{
      .Key = "Sample.exe", .Filename = "Sample.ex_", .Realname = "Sample.exe", .Caption = "Sample",
      .ServerPath = "/Harrowin/Sample", .LocalPath = "C:\\Tools", .FileVersion = "1.0.0.210",
      .ProductVersion = "1.00.0210", .SelfRegister = true, .Copy = CopyMode::Normal, .Execute = "1",
      .ExecuteOption = "C:\\Windows\\a.txt", .Wait = true, .Extract = true, .ExtractTo = "C:\\Tools\\sub",
      .AllowList = "00-1A", .BlockList = "00-2B", .Sha256 = ""};
  // clang-format on
  EXPECT_EQ(Reader(shuffled).ReadEntries(), std::vector<FileEntry>{expected});
}

// The list ends at the first missing number or empty Key, whatever the order of sections.
TEST_F(ManifestReaderTest, EntryListEndsAtTheFirstGapOrEmptyKey) {
  const std::tuple<const char*, const char*> cases[] = {
      {"", ""},
      {"[File1]\r\nKey=a\r\n[File2]\r\nKey=b\r\n[File4]\r\nKey=d\r\n", "a b "},
      {"[File1]\r\nKey=a\r\n[File2]\r\nKey=\r\n[File3]\r\nKey=c\r\n", "a "},
      {"[File2]\r\nKey=b\r\n[File1]\r\nKey=a\r\n", "a b "}};
  for (auto [text, expected] : cases) {
    std::string keys;
    for (const FileEntry& entry : Reader(text).ReadEntries()) keys += entry.Key + " ";
    EXPECT_EQ(keys, expected) << text;
  }
}

// DeltaN= names the digest of an old version and a patch in the entry's folder; they are read
// up to the first missing number, at most 16. Anything else is kept aside to be reported.
TEST_F(ManifestReaderTest, ReadsDeltasUpToTheFirstGap) {
  const std::string a(64, 'a'), b(64, 'B');
  std::string sixteen, seventeen = "Delta17=" + a + ",p17\r\n";
  for (int n = 1; n <= 16; ++n) sixteen += "Delta" + std::to_string(n) + "=" + a + ",p\r\n";
  const std::tuple<std::string, const char*, const char*> cases[] = {
      // lines, each base's first digit and patch read, the numbers kept aside
      {"Delta1=" + a + ",x.patch\r\nDelta2=" + b + ",y,z.patch\r\n", "ax.patch by,z.patch ", ""},
      {"Delta1=" + a + ",x.patch\r\nDelta3=" + b + ",y.patch\r\n", "ax.patch ", ""},
      {"Delta2=" + a + ",x.patch\r\n", "", ""},
      {"Delta1=" + a + "\r\nDelta2=" + a.substr(1) + ",x\r\nDelta3=" + a + ",\r\n", "", "1 2 3 "},
      {"Delta1=" + a + ",sub/x\r\nDelta2=" + a + ",sub\\x\r\nDelta3=" + a + ",..x\r\n", "",
       "1 2 3 "},
      {"Delta1=" + a + "g,x\r\nDelta2=" + b + ",ok\r\n", "bok ", "1 "},
      {sixteen + seventeen, "ap ap ap ap ap ap ap ap ap ap ap ap ap ap ap ap ", ""},
  };
  for (const auto& [lines, patches, aside] : cases) {
    const FileEntry e = Reader("[File1]\r\nKey=k\r\n" + lines).ReadEntry(1);
    std::string read, kept;
    for (const EntryDelta& delta : e.Deltas) {
      const std::string base = Sha256Hex(delta.Base);
      EXPECT_EQ(base, std::string(64, base[0])) << lines;
      read += base.substr(0, 1) + delta.Patch + " ";
    }
    for (const std::string& text : e.IgnoredDeltas)
      kept += text.substr(5, text.find('=') - 5) + " ";
    EXPECT_EQ(read, patches) << lines;
    EXPECT_EQ(kept, aside) << lines;
  }
}

// A copy mode and self-registration in any capitals, an unknown mode installs only what is
// missing; a switch is on only when written "1". $Root in any capitals; macros, '/' and "." in
// local paths; Extract To defaults to Local Path.
TEST_F(ManifestReaderTest, ReadsModesSwitchesAndPathsOfAnEntry) {
  // Lines; the mode; Wait, Extract and Register; Server Path, Local Path and Extract To.
  // clang-format off
  const std::tuple<const char*, CopyMode, const char*, const char*> cases[] = {
      {"CopyMode=skipifsame\r\nWait=1\r\n", CopyMode::SkipIfSame, "1 0 0", "  "},
      {"CopyMode=SKIPIFEXISTS\r\nExtract=1\r\n", CopyMode::SkipIfExists, "0 1 0", "  "},
      {"CopyMode=fORCE\r\nWait=01\r\nExtract=true\r\nRegister=$(dllselfregister)\r\n", CopyMode::Force, "0 0 1", "  "},
      {"CopyMode=Normally\r\nWait=-1\r\nRegister=yes\r\n", CopyMode::Other, "0 0 0", "  "},
      {"", CopyMode::Other, "0 0 0", "  "},
      {"Server Path=$ROOT/Sample\r\nLocal Path=$(AppPath)\r\n", CopyMode::Other, "0 0 0", "/Harrowin/Sample C:\\Tools C:\\Tools"},
      {"Server Path=$root/a/$Root\r\n", CopyMode::Other, "0 0 0", "/Harrowin/a//Harrowin  "},
      {"Local Path=$(WinSysPath)\\sub\r\nExtract To=.\\\r\n", CopyMode::Other, "0 0 0", " C:\\Windows\\System32\\sub C:\\Windows\\System32\\sub"},
      {"Local Path=C:\\Sample\r\nExtract To=$(AppPath)/sub/deep\r\n", CopyMode::Other, "0 0 0", " C:\\Sample C:\\Tools\\sub\\deep"}};
  // clang-format on
  for (auto [lines, mode, switches, paths] : cases) {
    const FileEntry e = Reader(std::string("[File1]\r\nKey=k\r\n") + lines).ReadEntry(1);
    EXPECT_EQ(e.Copy, mode) << lines;
    EXPECT_EQ(std::to_string(e.Wait) + " " + std::to_string(e.Extract) + " " +
                  std::to_string(e.SelfRegister),
              switches)
        << lines;
    EXPECT_EQ(e.ServerPath + " " + e.LocalPath + " " + e.ExtractTo, paths) << lines;
  }
}

// Later passes expand what earlier ones inserted, not the other way round.
TEST(ExpandPathMacrosTest, ExpandsInOrder) {
  ClientSettings s = test::SampleSettings();
  s.WinSysPath = "$(AppPath)";
  EXPECT_EQ(ExpandPathMacros("$(AppPath)", s, "$(WinPath)\\x"), "C:\\Windows\\x");
  EXPECT_EQ(ExpandPathMacros("$(WinSysPath)", s, "C:\\Tools"), "$(AppPath)");
}

// Thousands of writes reach the disk a few times, none when nothing changed; keys may hold "]".
TEST_F(ManifestReaderTest, InstallationRecordIsWrittenBehind) {
  const fs::path file = mDir / "Version.ini";
  auto now = std::chrono::steady_clock::time_point{};
  std::vector<FileEntry> entries(1000);
  for (int n = 0; n < 1000; ++n) {
    entries[n].Key = n ? "f" + std::to_string(n) : "lib[x]86.dll";
    entries[n].FileVersion = "1";
  }
  entries[0].ProductVersion = "P1";
  auto pass = [&] {
    IniStore ini(CodePage(), [&] { return now; });
    InstallationRecord record(ini, file);
    for (const FileEntry& entry : entries) {
      record.Write(entry);
      EXPECT_EQ(record.FileVersion(entry.Key), entry.FileVersion);
      now += std::chrono::milliseconds(3);  // three seconds in all
    }
    record.Flush();
    return ini.DiskWrites();
  };
  const int writes = pass();
  EXPECT_TRUE(writes >= 1 && writes <= 4) << writes;
  EXPECT_EQ(pass(), 0);
  entries[42].FileVersion = "1.1";
  EXPECT_EQ(pass(), 1);
  IniStore ini{CodePage()};
  InstallationRecord record(ini, file);
  EXPECT_EQ(record.FileVersion("lib[x]86.dll") + " " + record.ProductVersion("lib[x]86.dll"),
            "1 P1");
  EXPECT_EQ(record.FileVersion("F42") + " " + record.FileVersion("f41") + record.FileVersion("x"),
            "1.1 1");
}

}  // namespace
}  // namespace tandor
