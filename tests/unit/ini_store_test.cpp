#include "settings/IniStore.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <tuple>

#include "support/TempDir.h"

namespace tandor::test {
namespace {

namespace fs = std::filesystem;

// Values of section S: trimming, quotes, first key wins, line ends, NUL, the 1023-byte cut.
TEST(IniStoreTest, ReadsValues) {
  // clang-format off
  const std::tuple<std::string, const char*, std::string> cases[] = {
      {"[S]\r\nk=v\r\n", "k", "v"},
      {"  [ S ]  \r\n  k  =  v w  \r\n", "k", "v w"},
      {"[S]\r\nk=\" padded \"\r\n", "k", " padded "},
      {"[S]\r\nk=1\r\nK=2\r\n", "k", "1"},
      {"[S]\r\nk\r\nk=2\r\n", "k", "2"},
      {"[S]\rk=v\rj=w", "j", "w"},
      {std::string("[S]\r\nk=ab\0cd\r\n", 15), "k", "ab"},
      {"[S]\r\nk=" + std::string(2048, 'x') + "\r\n", "k", std::string(1023, 'x')},
      {"[S]\r\nk=" + std::string(1022, 'x') + "\xEA\xB0\x80\r\n", "k", std::string(1022, 'x')},
      {"[S]\r\nk=a\xFF" "b\r\n", "k", "a\xEF\xBF\xBD" "b"}};
  // clang-format on
  TempDir dir;
  for (const auto& [content, key, expected] : cases) {
    WriteFile(dir / "a.ini", content);
    EXPECT_EQ(IniStore(CodePage()).Read("S", key, dir / "a.ini"), expected) << content;
  }
}

// A write keeps every other byte of the file, and a second store reads what it wrote.
TEST(IniStoreTest, WritesInPlace) {
  // clang-format off
  const std::tuple<std::string, const char*, const char*, const char*, std::string> cases[] = {
      {"", "Tandor", "Address", "", "[Tandor]\r\nAddress=\r\n"},
      {"; top\n[S]\nk = old \nj=2\n", "s", "K", "new", "; top\n[S]\nk=new\r\nj=2\n"},
      {"[S]\r\na=1\r\n\r\n; note\r\n[T]\r\nb=2\r\n", "S", "c", "3", "[S]\r\na=1\r\nc=3\r\n\r\n; note\r\n[T]\r\nb=2\r\n"},
      {"[S]\r\na=1", "T", "b", "2", "[S]\r\na=1\r\n[T]\r\nb=2\r\n"},
      {"[S]\ra=1\r[T]\rb=2", "T", "b", "3", "[S]\ra=1\r[T]\rb=3\r\n"}};
  // clang-format on
  TempDir dir;
  int n = 0;
  for (const auto& [before, section, key, value, after] : cases) {
    const fs::path file = dir / std::to_string(++n);
    if (!before.empty()) WriteFile(file, before);
    IniStore(CodePage()).Write(section, key, value, file);
    EXPECT_EQ(ReadFile(file), after) << before;
    EXPECT_EQ(IniStore(CodePage()).Read(section, key, file), value) << before;
  }
}

// Missing files read empty; no write goes to a (missing) folder, breaks the file or adds lines.
TEST(IniStoreTest, RefusesWritesThatWouldBreakOrMisplaceTheFile) {
  TempDir dir;
  IniStore ini{CodePage()};
  EXPECT_EQ(ini.Read("S", "k", dir / "missing.ini") + ini.Read("S", "k", dir.Path()), "");
  ini.Write("S", "k", "v", dir.Path());
  ini.Write("S", "k", "v", dir / "no-such-folder" / "a.ini");
  ini.Write("S", "k=x", "v", dir / "a.ini");
  ini.Write("S\r\n[T]", "k", "v", dir / "a.ini");
  EXPECT_TRUE(fs::is_empty(dir.Path()));
  ini.Write("S", "k", "v\r\n[Evil]\r\nx=1", dir / "a.ini");
  EXPECT_EQ(ReadFile(dir / "a.ini"), "[S]\r\nk=v\r\n");
}

// In code page 932 the character U+2010 is 81 5D: its trail byte is ']'.
TEST(IniStoreTest, ReadsInTheMachinesCodePage) {
  TempDir dir;
  WriteFile(dir / "a.ini", "[\x81\x5D]\r\nk=\x81\x5D\r\n");
  EXPECT_EQ(IniStore(CodePage(932)).Read("\xE2\x80\x90", "k", dir / "a.ini"), "\xE2\x80\x90");
}

TEST(IniStoreTest, SeesChangesMadeOnDisk) {
  TempDir dir;
  WriteFile(dir / "a.ini", "[S]\r\nk=1\r\n");
  IniStore ini{CodePage()};
  EXPECT_EQ(ini.Read("S", "k", dir / "a.ini"), "1");
  // Same size, rewritten in place a clock tick later: the stamp tells.
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  WriteFile(dir / "a.ini", "[S]\r\nk=2\r\n");
  EXPECT_EQ(ini.Read("S", "k", dir / "a.ini"), "2");
}

// An equal value writes nothing; a read-only file takes no writes; a write keeps the file's
// mode and leaves no temporary file behind.
TEST(IniStoreTest, WritesChangeOnlyWhatTheyMust) {
  TempDir dir;
  WriteFile(dir / "a.ini", "[S]\nk = \"v\"\n");
  WriteFile(dir / "ro.ini", "[S]\r\nk=1\r\n");
  fs::permissions(dir / "a.ini", fs::perms(0600));
  fs::permissions(dir / "ro.ini", fs::perms(0440));
  IniStore ini{CodePage()};
  ini.Write("S", "k", "v", dir / "a.ini");
  ini.Write("S", "k", "2", dir / "ro.ini");
  EXPECT_EQ(ini.DiskWrites(), 0);
  EXPECT_EQ(ini.Read("S", "k", dir / "ro.ini"), "1");
  for (int i = 0; i < 3; ++i) ini.Write("S", "k" + std::to_string(i), "v", dir / "a.ini");
  EXPECT_EQ(ini.DiskWrites(), 3);
  // Several keys at once: one write, and none when nothing changes.
  ini.Write("S", {{"k0", "v"}, {"k1", "w"}, {"k3", "v"}}, dir / "a.ini");
  ini.Write("S", {{"k0", "v"}, {"k1", "w"}}, dir / "a.ini");
  EXPECT_EQ(ini.DiskWrites(), 4);
  EXPECT_EQ(ReadFile(dir / "a.ini"), "[S]\nk = \"v\"\nk0=v\r\nk1=w\r\nk2=v\r\nk3=v\r\n");
  EXPECT_EQ(fs::status(dir / "a.ini").permissions() & fs::perms::all, fs::perms(0600));
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path()), fs::directory_iterator()), 2);
}

}  // namespace
}  // namespace tandor::test
