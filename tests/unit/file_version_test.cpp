// Version fields of real Windows programs made by the MinGW resource compiler and linker.

#include "util/FileVersion.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/Prefix.h"
#include "support/FileVersionPrinter.h"
#include "support/TempDir.h"
#include "util/VersionResource.h"

namespace tandor {
namespace {

namespace fs = std::filesystem;

fs::path Fixture(std::string_view name) {
  return fs::path(TANDOR_VERSION_FIXTURES) / name;
}

FileVersionFields AllFields(const std::string& text) {
  return {text, text, text, text, text, text, text, text};
}

std::string Repeat(const std::string& text, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out += text;
  return out;
}

const std::string kKoreanRun = "가나다라마바사아자차카타파하";  // 14 characters

// Cuts UTF-8 `text` to its first `count` characters.
std::string FirstCharacters(const std::string& text, std::size_t count) {
  std::size_t at = 0;
  for (; at < text.size() && count > 0; --count) {
    ++at;
    while (at < text.size() && (static_cast<unsigned char>(text[at]) & 0xC0) == 0x80) ++at;
  }
  return text.substr(0, at);
}

FileVersionFields KoreanFields(std::size_t descriptionCharacters, const char* copyright) {
  return {"하로윈 소프트", FirstCharacters(Repeat(kKoreanRun, 10), descriptionCharacters),
          "1.00.0005",     "한글",
          copyright,       "한글.exe",
          "견본",          "1.0"};
}

struct FileCase {
  const char* File;
  int CodePage;
  FileVersionFields Fields;
  const char* FileVersion;  // GetFileVersion
  const char* LanguageKey;  // "" when there is no resource
};

class FileVersionFilesTest : public ::testing::TestWithParam<FileCase> {};

TEST_P(FileVersionFilesTest, ReadsTheEightFieldsAndTheFixedFileVersion) {
  const FileCase& c = GetParam();
  test::TempDir temp;
  Prefix prefix(temp.Path());
  VersionInfoQuery query(prefix, CodePage(c.CodePage));

  EXPECT_EQ(query.QueryFileVersionInfo(Fixture(c.File).string()), c.Fields);
  EXPECT_EQ(GetFileVersion(Fixture(c.File)), c.FileVersion);

  std::string bytes = test::ReadFile(Fixture(c.File));
  auto resource = VersionResource::FromImage(
      {reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()});
  EXPECT_EQ(resource ? resource->LanguageKey().value_or("none") : "", c.LanguageKey);
}

const FileVersionFields kAllStrings{
    "Harrowin Software",           "Sample client library", "2.05.1234", "SampleLib",
    "Copyright (C) 2004 Harrowin", "SampleLib.dll",         "Sample",    "2.5 beta"};

const FileVersionFields kOwnVersion{"Harrowin",
                                    "Tandor 자동 업데이트",
                                    "1.00.0210",
                                    "Tandor",
                                    "Copyright (C) Harrowin",
                                    "Tandor",
                                    "Tandor",
                                    "1.00.0210"};

INSTANTIATE_TEST_SUITE_P(
    Fixtures, FileVersionFilesTest,
    ::testing::Values(
        FileCase{"all_strings.exe", 65001, kAllStrings, "2.5.3.1234", "041204B0"},
        // The same program converted to the 32-bit PE format.
        FileCase{"all_strings32.exe", 65001, kAllStrings, "2.5.3.1234", "041204B0"},
        // Only the missing string reads "?"; "OriginalFilename" answers "OriginalFileName".
        FileCase{"missing_copyright.exe",
                 1252,
                 {"Example Corp", "Example tool", "1.2.0.7", "extool", "?", "extool.exe", "Example",
                  "1.2"},
                 "1.2.0.7",
                 "040904E4"},
        // Strings under a language other than the first translation are not found.
        FileCase{"other_language.exe", 65001, AllFields("?"), "3.0.0.1", "041204B0"},
        FileCase{"no_version.exe", 65001, FileVersionFields{}, "", ""},
        // 255 bytes of UTF-8 hold 85 Korean characters; no character is split.
        FileCase{"korean.exe", 65001, KoreanFields(85, "저작권 © 하로윈"), "1.0.0.5", "041204B0"},
        // In code page 949 each Korean character takes two bytes: 127 of them fit. The code
        // page has no copyright sign, which reads as "?".
        FileCase{"korean.exe", 949, KoreanFields(127, "저작권 ? 하로윈"), "1.0.0.5", "041204B0"},
        // The updater's own resource, from ELF objects of both classes and byte orders.
        FileCase{"own_version64.o", 65001, kOwnVersion, "1.0.0.210", "041204B0"},
        FileCase{"own_version32be.o", 65001, kOwnVersion, "1.0.0.210", "041204B0"}));

TEST(FileVersionTest, ProductVersionComesFromTheFixedFileInfo) {
  std::string bytes = test::ReadFile(Fixture("all_strings.exe"));
  auto resource = VersionResource::FromImage(
      {reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()});
  ASSERT_TRUE(resource);
  EXPECT_EQ(resource->ProductVersion()->ToString(), "2.5.0.0");
  EXPECT_EQ(resource->FileVersion()->ToString(), "2.5.3.1234");
}

// Paths are Windows paths inside the prefix; an empty path answers the last result again,
// without the file; a file that cannot be read answers empty fields and clears that result.
TEST(FileVersionTest, QueriesReadInsideThePrefixAndRememberTheLastAnswer) {
  test::TempDir temp;
  Prefix prefix(temp.Path());
  VersionInfoQuery query(prefix, CodePage());
  EXPECT_EQ(query.QueryFileVersionInfo(""), FileVersionFields{});  // nothing read yet
  fs::path copy = temp / "drive_c" / "Sample" / "SampleLib.dll";
  fs::create_directories(copy.parent_path());
  fs::copy_file(Fixture("all_strings.exe"), copy);
  EXPECT_EQ(query.QueryFileVersionInfo("C:\\Sample\\SampleLib.dll"), kAllStrings);
  fs::remove(copy);
  EXPECT_EQ(query.QueryFileVersionInfo(""), kAllStrings);

  test::WriteFile(temp / "readme.txt", "just text\r\n");
  for (const char* name : {"missing.dll", "readme.txt"}) {
    query.QueryFileVersionInfo(Fixture("all_strings.exe").string());
    EXPECT_EQ(query.QueryFileVersionInfo((temp / name).string()), FileVersionFields{}) << name;
    EXPECT_EQ(query.QueryFileVersionInfo(""), FileVersionFields{}) << name;
    EXPECT_EQ(GetFileVersion(temp / name), "") << name;
  }
}

}  // namespace
}  // namespace tandor
