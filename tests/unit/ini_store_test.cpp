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
        ReadCase{"section_case", "[Files]\r\nExecute=3\r\n", "FILES", "execute", "3"},
        ReadCase{"trimmed", "  [ S ]  \r\n  k  =  v w  \r\n", "S", "k", "v w"},
        ReadCase{"double_quotes", "[S]\r\nk=\" padded \"\r\n", "S", "k", " padded "},
        ReadCase{"single_quotes", "[S]\r\nk='x'\r\n", "S", "k", "x"},
        ReadCase{"unmatched_quotes", "[S]\r\nk=\"x'\r\n", "S", "k", "\"x'"},
        ReadCase{"lone_quote", "[S]\r\nk=\"\r\n", "S", "k", "\""},
        ReadCase{"first_key_wins", "[S]\r\nk=1\r\nK=2\r\n", "S", "k", "1"},
        ReadCase{"first_section_wins", "[S]\r\nk=1\r\n[s]\r\nk=2\r\nj=3\r\n", "S", "k", "1"},
        ReadCase{"second_section_keys_hidden", "[S]\r\nk=1\r\n[s]\r\nj=3\r\n", "S", "j", ""},
        ReadCase{"no_equals_is_no_key", "[S]\r\nk\r\nk=2\r\n", "S", "k", "2"},
        ReadCase{"lf_only", "[S]\nk=v\nj=w\n", "S", "j", "w"},
        ReadCase{"lone_cr", "[S]\rk=v\rj=w", "S", "j", "w"},
        ReadCase{"no_final_line_end", "[S]\r\nk=v", "S", "k", "v"},
        ReadCase{"missing_key", "[S]\r\nk=v\r\n", "S", "x", ""},
        ReadCase{"missing_section", "[S]\r\nk=v\r\n", "T", "k", ""},
        ReadCase{"key_before_any_section", "k=v\r\n[S]\r\n", "S", "k", ""},
        ReadCase{"empty_value", "[S]\r\nk=\r\n", "S", "k", ""},
        ReadCase{"equals_in_value", "[S]\r\nk=a=b\r\n", "S", "k", "a=b"},
        ReadCase{"header_without_bracket", "[S\r\nk=v\r\n", "S", "k", "v"},
        ReadCase{"text_after_bracket", "[S] comment\r\nk=v\r\n", "S", "k", "v"},
        ReadCase{"nul_ends_value", std::string("[S]\r\nk=ab\0cd\r\n", 15), "S", "k", "ab"},
        ReadCase{"nul_in_other_line", std::string("[S]\r\n\0\0\r\nk=v\r\n", 13), "S", "k", "v"},
        ReadCase{"key_with_blank", "[File1]\r\nServer Path=/x\r\n", "File1", "server path", "/x"},
        ReadCase{"empty_file", "", "S", "k", ""},
        ReadCase{"byte_order_mark", "\xEF\xBB\xBF[Files]\r\nExecute=2\r\n", "Files", "Execute",
                 "2"},
        ReadCase{"value_cut_at_1023", "[S]\r\nk=" + std::string(2000, 'x') + "\r\n", "S", "k",
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

TEST(IniStore, TenMegabyteLine) {
  TempDir dir;
  WriteFile(dir / "a.ini", "[S]\r\nbig=" + std::string(10 << 20, 'b') + "\r\nk=v\r\n");
  IniStore ini{CodePage()};
  EXPECT_EQ(ini.Read("S", "big", dir / "a.ini").size(), 1023u);
  EXPECT_EQ(ini.Read("S", "k", dir / "a.ini"), "v");
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
        WriteCase{"key_into_empty_section", "[S]\r\n[T]\r\n", "S", "k", "v",
                  "[S]\r\nk=v\r\n[T]\r\n"},
        WriteCase{"new_section_at_end", "[S]\r\na=1\r\n", "T", "b", "2",
                  "[S]\r\na=1\r\n[T]\r\nb=2\r\n"},
        WriteCase{"new_section_after_unterminated_line", "[S]\r\na=1", "T", "b", "2",
                  "[S]\r\na=1\r\n[T]\r\nb=2\r\n"},
        WriteCase{"new_key_after_unterminated_line", "[S]\r\na=1", "S", "b", "2",
                  "[S]\r\na=1\r\nb=2\r\n"},
        WriteCase{"first_of_two_keys", "[S]\r\nk=1\r\nk=2\r\n", "S", "k", "9",
                  "[S]\r\nk=9\r\nk=2\r\n"},
        WriteCase{"lone_cr_kept", "[S]\ra=1\r[T]\rb=2", "T", "b", "3", "[S]\ra=1\r[T]\rb=3\r\n"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(IniStore, EqualValueWritesNothing) {
  TempDir dir;
  WriteFile(dir / "a.ini", "[S]\nk = \"v\"\n");
  IniStore ini{CodePage()};
  ini.Write("S", "k", "v", dir / "a.ini");
  EXPECT_EQ(ini.DiskWrites(), 0);
  EXPECT_EQ(ReadFile(dir / "a.ini"), "[S]\nk = \"v\"\n");
}

TEST(IniStore, KoreanValueInCodePage949) {
  TempDir dir;
  IniStore ini{CodePage(949)};
  const std::string korean = "업데이트서버주소입니다";  // ten Korean characters and one more
  ini.Write("Tandor", "Address", korean, dir / "a.ini");
  // Stored as CP949: two bytes per syllable.
  const std::string stored = ReadFile(dir / "a.ini");
  EXPECT_NE(stored.find("Address=\xBE\xF7"), std::string::npos) << stored;
  EXPECT_EQ(stored.size(), std::string("[Tandor]\r\nAddress=\r\n").size() + 22);
  IniStore fresh{CodePage(949)};
  EXPECT_EQ(fresh.Read("tandor", "address", dir / "a.ini"), korean);
}

TEST(IniStore, Cp949CutNeverSplitsACharacter) {
  TempDir dir;
  // 1022 ASCII bytes then a two-byte character: the character does not fit and goes whole.
  WriteFile(dir / "a.ini", "[S]\r\nk=" + std::string(1022, 'x') + "\xB0\xA1\r\n");
  IniStore ini{CodePage(949)};
  EXPECT_EQ(ini.Read("S", "k", dir / "a.ini"), std::string(1022, 'x'));
}

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
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  fs::remove(dir / "a.ini");
  EXPECT_EQ(ini.Read("S", "k", dir / "a.ini"), "");
  // A caller that replaced the file itself need not wait.
  WriteFile(dir / "a.ini", "[S]\r\nk=3\r\n");
  ini.Forget(dir / "a.ini");
  EXPECT_EQ(ini.Read("S", "k", dir / "a.ini"), "3");
}

TEST(IniStore, ReadOnlyFileIgnoresWrites) {
  TempDir dir;
  WriteFile(dir / "a.ini", "[S]\r\nk=1\r\n");
  fs::permissions(dir / "a.ini", fs::perms::owner_read | fs::perms::group_read);
  IniStore ini{CodePage()};
  ini.Write("S", "k", "2", dir / "a.ini");
  EXPECT_EQ(ini.Read("S", "k", dir / "a.ini"), "1");
  EXPECT_EQ(ReadFile(dir / "a.ini"), "[S]\r\nk=1\r\n");
}

TEST(IniStore, WriteKeepsModeAndLeavesNoTemporaryFiles) {
  TempDir dir;
  WriteFile(dir / "a.ini", "[S]\r\n");
  fs::permissions(dir / "a.ini", fs::perms(0600));
  IniStore ini{CodePage()};
  for (int i = 0; i < 5; ++i) ini.Write("S", "k" + std::to_string(i), "v", dir / "a.ini");
  EXPECT_EQ(fs::status(dir / "a.ini").permissions() & fs::perms::all, fs::perms(0600));
  int files = 0;
  for ([[maybe_unused]] const auto& item : fs::directory_iterator(dir.Path())) ++files;
  EXPECT_EQ(files, 1);
}

TEST(IniStore, WriteBehindFlushesAtMostOncePerInterval) {
  TempDir dir;
  auto now = std::chrono::steady_clock::time_point{};
  IniStore ini{CodePage(), [&] { return now; }};
  const fs::path record = dir / "Version.ini";
  ini.SetWriteBehind(record);
  for (int entry = 0; entry < 1000; ++entry) {
    const std::string key = "Key" + std::to_string(entry);
    for (const char* name : {"Filename", "Local Path", "File Version", "Product Version"})
      ini.Write(key, name, "value", record);
    now += std::chrono::milliseconds(3);  // the whole pass takes three seconds
  }
  EXPECT_LE(ini.DiskWrites(), 3);
  EXPECT_GE(ini.DiskWrites(), 2);
  // Reads see pending writes at once.
  EXPECT_EQ(ini.Read("Key999", "product version", record), "value");
  ini.Flush();
  IniStore fresh{CodePage()};
  EXPECT_EQ(fresh.Read("Key999", "Product Version", record), "value");
  EXPECT_EQ(fresh.Read("Key0", "Filename", record), "value");
}

TEST(IniStore, FlushDueWritesOnlyWhatWaitedAnInterval) {
  TempDir dir;
  auto now = std::chrono::steady_clock::time_point{};
  IniStore ini{CodePage(), [&] { return now; }};
  ini.SetWriteBehind(dir / "r.ini");
  ini.Write("S", "k", "v", dir / "r.ini");
  ini.FlushDue();
  EXPECT_EQ(ini.DiskWrites(), 0);
  now += std::chrono::milliseconds(1500);  // a long wait for a started program
  ini.FlushDue();
  EXPECT_EQ(ini.DiskWrites(), 1);
  EXPECT_EQ(ReadFile(dir / "r.ini"), "[S]\r\nk=v\r\n");
}

TEST(IniStore, DestructionFlushesPendingWrites) {
  TempDir dir;
  {
    IniStore ini{CodePage()};
    ini.SetWriteBehind(dir / "r.ini", std::chrono::hours(1));
    ini.Write("S", "k", "v", dir / "r.ini");
    EXPECT_FALSE(fs::exists(dir / "r.ini"));
  }
  EXPECT_EQ(ReadFile(dir / "r.ini"), "[S]\r\nk=v\r\n");
}

}  // namespace
}  // namespace tandor::test
