#include "settings/IniStore.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <string>
#include <thread>

#include "support/TempDir.h"

namespace tandor::test {
namespace {

namespace fs = std::filesystem;

struct ReadCase {
  const char* name;
  std::string content;
  const char* section;
  const char* key;
  std::string expected;
};

class IniReadTest : public ::testing::TestWithParam<ReadCase> {};

TEST_P(IniReadTest, ReadsValue) {
  const ReadCase& c = GetParam();
  TempDir dir;
  WriteFile(dir / "a.ini", c.content);
  IniStore ini{CodePage()};
  EXPECT_EQ(ini.Read(c.section, c.key, dir / "a.ini"), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Semantics, IniReadTest,
    ::testing::Values(
        ReadCase{"plain", "[S]\r\nk=v\r\n", "S", "k", "v"},
        ReadCase{"trimmed", "  [ S ]  \r\n  k  =  v w  \r\n", "S", "k", "v w"},
        ReadCase{"double_quotes", "[S]\r\nk=\" padded \"\r\n", "S", "k", " padded "},
        ReadCase{"first_key_wins", "[S]\r\nk=1\r\nK=2\r\n", "S", "k", "1"},
        ReadCase{"no_equals_is_no_key", "[S]\r\nk\r\nk=2\r\n", "S", "k", "2"},
        ReadCase{"lone_cr", "[S]\rk=v\rj=w", "S", "j", "w"},
        ReadCase{"nul_ends_value", std::string("[S]\r\nk=ab\0cd\r\n", 15), "S", "k", "ab"},
        ReadCase{"value_cut_at_1023", "[S]\r\nk=" + std::string(2048, 'x') + "\r\n", "S", "k",
                 std::string(1023, 'x')},
        ReadCase{"utf8_not_split", "[S]\r\nk=" + std::string(1022, 'x') + "\xEA\xB0\x80\r\n", "S",
                 "k", std::string(1022, 'x')},
        ReadCase{"invalid_utf8_replaced",
                 "[S]\r\nk=a\xFF"
                 "b\r\n",
                 "S", "k",
                 "a\xEF\xBF\xBD"
                 "b"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(IniStore, MissingFileOrFolderReadsEmpty) {
  TempDir dir;
  IniStore ini{CodePage()};
  EXPECT_EQ(ini.Read("S", "k", dir / "missing.ini"), "");
  EXPECT_EQ(ini.Read("S", "k", dir.Path()), "");
  ini.Write("S", "k", "v", dir.Path());  // a folder: ignored
  EXPECT_TRUE(fs::is_directory(dir.Path()));
  ini.Write("S", "k", "v", dir / "no-such-folder" / "a.ini");
  EXPECT_FALSE(fs::exists(dir / "no-such-folder"));
}

struct WriteCase {
  const char* name;
  std::string before;
  const char* section;
  const char* key;
  const char* value;
  std::string after;
};

class IniWriteTest : public ::testing::TestWithParam<WriteCase> {};

TEST_P(IniWriteTest, KeepsEveryOtherByte) {
  const WriteCase& c = GetParam();
  TempDir dir;
  if (!c.before.empty()) WriteFile(dir / "a.ini", c.before);
  IniStore ini{CodePage()};
  ini.Write(c.section, c.key, c.value, dir / "a.ini");
  EXPECT_EQ(ReadFile(dir / "a.ini"), c.after);
  // A second store sees what the first one wrote.
  IniStore fresh{CodePage()};
  EXPECT_EQ(fresh.Read(c.section, c.key, dir / "a.ini"), c.value);
}

INSTANTIATE_TEST_SUITE_P(
    Semantics, IniWriteTest,
    ::testing::Values(
        WriteCase{"creates_file", "", "Tandor", "Address", "", "[Tandor]\r\nAddress=\r\n"},
        WriteCase{"replaces_in_place", "; top\n[S]\nk = old \nj=2\n", "s", "K", "new",
                  "; top\n[S]\nk=new\r\nj=2\n"},
        WriteCase{"appends_after_last_key", "[S]\r\na=1\r\n\r\n; note\r\n[T]\r\nb=2\r\n", "S", "c",
                  "3", "[S]\r\na=1\r\nc=3\r\n\r\n; note\r\n[T]\r\nb=2\r\n"},
        WriteCase{"new_section_at_end", "[S]\r\na=1\r\n", "T", "b", "2",
                  "[S]\r\na=1\r\n[T]\r\nb=2\r\n"},
        WriteCase{"new_section_after_unterminated_line", "[S]\r\na=1", "T", "b", "2",
                  "[S]\r\na=1\r\n[T]\r\nb=2\r\n"},
        WriteCase{"lone_cr_kept", "[S]\ra=1\r[T]\rb=2", "T", "b", "3", "[S]\ra=1\r[T]\rb=3\r\n"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(IniStore, SectionNameWithBracketAsTrailByte) {
  TempDir dir;
  // In code page 932 the character U+2010 is 81 5D: its trail byte is ']'.
  WriteFile(dir / "a.ini", std::string("[\x81\x5D]\r\nk=v\r\n"));
  IniStore ini{CodePage(932)};
  const std::string name = CodePage(932).ToUtf8("\x81\x5D");
  EXPECT_EQ(name, "\xE2\x80\x90");
  EXPECT_EQ(ini.Read(name, "k", dir / "a.ini"), "v");
}

TEST(IniStore, RefusesNamesThatBreakTheFile) {
  TempDir dir;
  IniStore ini{CodePage()};
  ini.Write("S", "k=x", "v", dir / "a.ini");
  ini.Write("S\r\n[T]", "k", "v", dir / "a.ini");
  EXPECT_FALSE(fs::exists(dir / "a.ini"));
  ini.Write("S", "k", "v\r\n[Evil]\r\nx=1", dir / "a.ini");
  EXPECT_EQ(ReadFile(dir / "a.ini"), "[S]\r\nk=v\r\n");
}

TEST(IniStore, SeesChangesMadeOnDisk) {
  TempDir dir;
  WriteFile(dir / "a.ini", "[S]\r\nk=1\r\n");
  IniStore ini{CodePage()};
  EXPECT_EQ(ini.Read("S", "k", dir / "a.ini"), "1");
  // Same size, rewritten in place a clock tick later: the stamp tells.
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  WriteFile(dir / "a.ini", "[S]\r\nk=2\r\n");
  EXPECT_EQ(ini.Read("S", "k", dir / "a.ini"), "2");
  // A caller that replaced the file itself need not wait.
  WriteFile(dir / "a.ini", "[S]\r\nk=3\r\n");
  ini.Forget(dir / "a.ini");
  EXPECT_EQ(ini.Read("S", "k", dir / "a.ini"), "3");
}

// An equal value writes nothing; a read-only file takes no writes; a write keeps the file's
// mode and leaves no temporary file behind.
TEST(IniStore, WritesChangeOnlyWhatTheyMust) {
  TempDir dir;
  WriteFile(dir / "a.ini", "[S]\nk = \"v\"\n");
  WriteFile(dir / "ro.ini", "[S]\r\nk=1\r\n");
  fs::permissions(dir / "a.ini", fs::perms(0600));
  fs::permissions(dir / "ro.ini", fs::perms(0440));
  IniStore ini{CodePage()};
  ini.Write("S", "k", "v", dir / "a.ini");
  EXPECT_EQ(ini.DiskWrites(), 0);
  ini.Write("S", "k", "2", dir / "ro.ini");
  EXPECT_EQ(ini.Read("S", "k", dir / "ro.ini"), "1");
  EXPECT_EQ(ReadFile(dir / "ro.ini"), "[S]\r\nk=1\r\n");
  for (int i = 0; i < 3; ++i) ini.Write("S", "k" + std::to_string(i), "v", dir / "a.ini");
  EXPECT_EQ(ReadFile(dir / "a.ini"), "[S]\nk = \"v\"\nk0=v\r\nk1=v\r\nk2=v\r\n");
  EXPECT_EQ(fs::status(dir / "a.ini").permissions() & fs::perms::all, fs::perms(0600));
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path()), fs::directory_iterator()), 2);
}

// The installation record is written behind: a pass's thousands of writes reach the disk about
// once a second, the last ones when the pass waits or ends, and reads see them all at once.
TEST(IniStore, WriteBehindReachesTheDiskOncePerIntervalAndAtTheEnd) {
  TempDir dir;
  const fs::path record = dir / "Version.ini";
  auto now = std::chrono::steady_clock::time_point{};
  {
    IniStore ini{CodePage(), [&] { return now; }};
    ini.SetWriteBehind(record);
    ini.Write("S", "k", "v", record);
    ini.FlushDue();
    EXPECT_FALSE(fs::exists(record));
    EXPECT_EQ(ini.Read("s", "K", record), "v");
    now += std::chrono::milliseconds(1500);  // a long wait for a started program
    ini.FlushDue();
    EXPECT_EQ(ReadFile(record), "[S]\r\nk=v\r\n");
    for (int entry = 0; entry < 1000; ++entry) {
      for (const char* name : {"Filename", "Local Path", "File Version", "Product Version"})
        ini.Write("Key" + std::to_string(entry), name, "value", record);
      now += std::chrono::milliseconds(3);  // the whole pass takes three seconds
    }
    EXPECT_LE(ini.DiskWrites(), 4);
    EXPECT_EQ(ini.Read("Key999", "product version", record), "value");
  }
  IniStore fresh{CodePage()};
  EXPECT_EQ(fresh.Read("Key999", "Product Version", record), "value");
  EXPECT_EQ(fresh.Read("S", "k", record), "v");
}

}  // namespace
}  // namespace tandor::test
