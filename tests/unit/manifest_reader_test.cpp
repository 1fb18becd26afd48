// Reading the manifest from real files: names, the [Files] settings, entry numbering, every key
// under any capitals, and the processing of paths.

#include <gtest/gtest.h>

#include "support/PassHarness.h"

#include <string>
#include <vector>

#include "manifest/ManifestReader.h"
#include "platform/Prefix.h"
#include "settings/IniStore.h"
#include "support/TempDir.h"

namespace tandor {
namespace {

using test::TempDir;
using test::WriteFile;

constexpr const char* kAppFolder = "C:\\Tools";

class ManifestReaderTest : public ::testing::Test {
 protected:
  std::filesystem::path Manifest(const std::string& text) {
    // A file of its own per call: the store does not look again at a file it read a moment ago.
    std::filesystem::path file = mDir / ("Sample" + std::to_string(++mFiles)) / "Tandor10.ini";
    WriteFile(file, text);
    return file;
  }
  ManifestReader Reader(const std::filesystem::path& file) {
    return ManifestReader(mIni, file, mSettings, kAppFolder);
  }

  TempDir mDir;
  IniStore mIni{CodePage()};
  ClientSettings mSettings = test::SampleSettings();
  int mFiles = 0;
};

TEST_F(ManifestReaderTest, FilesExecuteIsReadAsAWholeNumberOrReported) {
  struct Case {
    const char* lines;  // the [Files] section's lines after its header
    int execute;
    bool isNumber;
    const char* text;
  };
  const std::vector<Case> cases = {
      {"", 0, true, ""},
      {"EXECUTE=7\r\n", 7, true, "7"},
      {"Execute=32767\r\n", 32767, true, "32767"},
      {"Execute=2x\r\n", 0, false, "2x"},
      {"Execute=32768\r\n", 0, false, "32768"},
  };
  for (const Case& c : cases) {
    auto file = Manifest(std::string("[Files]\r\n") + c.lines + "[File1]\r\nKey=a\r\n");
    FilesSettings files = Reader(file).ReadFilesSettings();
    EXPECT_EQ(files.Execute, c.execute) << c.lines;
    EXPECT_EQ(files.ExecuteIsNumber, c.isNumber) << c.lines;
    EXPECT_EQ(files.ExecuteText, c.text) << c.lines;
  }
}

TEST_F(ManifestReaderTest, FilesExecuteOptionIsNotExpanded) {
  auto file = Manifest("[files]\r\nexecute option=$(AppPath)\\x /auto\r\n");
  EXPECT_EQ(Reader(file).ReadFilesSettings().ExecuteOption, "$(AppPath)\\x /auto");
}

TEST_F(ManifestReaderTest, ReadsEveryKeyUnderAnyCapitals) {
  const std::string shuffled =
      "[file1]\r\nblock=00-2B\r\nallow=00-1A\r\nextract to=$(AppPath)/sub\r\nextract=1\r\n"
      "wait=1\r\nexecute option=$(WinPath)\\a.txt\r\nexecute=1\r\ncopymode=Normal\r\n"
      "register=$(DLLSelfRegister)\r\nproduct version=1.00.0210\r\nfile version=1.0.0.210\r\n"
      "local path=$(AppPath)\r\nserver path=/Harrowin/Sample\r\ncaption=Sample\r\n"
      "realname=Sample.exe\r\nfilename=Sample.ex_\r\nkey=Sample.exe\r\n";

  FileEntry expected;
  expected.Key = "Sample.exe";
  expected.Filename = "Sample.ex_";
  expected.Realname = "Sample.exe";
  expected.Caption = "Sample";
  expected.ServerPath = "/Harrowin/Sample";
  expected.LocalPath = "C:\\Tools";
  expected.FileVersion = "1.0.0.210";
  expected.ProductVersion = "1.00.0210";
  expected.Register = "$(DLLSelfRegister)";
  expected.CopyMode = "Normal";
  expected.Execute = "1";
  expected.ExecuteOption = "C:\\Windows\\a.txt";
  expected.Wait = "1";
  expected.Extract = "1";
  expected.ExtractTo = "C:\\Tools\\sub";
  expected.AllowList = "00-1A";
  expected.BlockList = "00-2B";

  std::vector<FileEntry> entries = Reader(Manifest("[Files]\r\n" + shuffled)).ReadEntries();
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0], expected);
}

TEST_F(ManifestReaderTest, EntryListEndsAtTheFirstGapOrEmptyKey) {
  struct Case {
    const char* name;
    const char* text;
    std::vector<std::string> keys;
  };
  const std::vector<Case> cases = {
      {"no file", nullptr, {}},
      {"File1 without Key", "[File1]\r\nFilename=a\r\n[File2]\r\nKey=b\r\n", {}},
      {"gap after File2",
       "[File1]\r\nKey=a\r\n[File2]\r\nKey=b\r\n[File4]\r\nKey=d\r\n",
       {"a", "b"}},
      {"empty Key in File2", "[File1]\r\nKey=a\r\n[File2]\r\nKey=\r\n[File3]\r\nKey=c\r\n", {"a"}},
      {"sections out of order", "[File2]\r\nKey=b\r\n[File1]\r\nKey=a\r\n", {"a", "b"}},
  };
  for (const Case& c : cases) {
    std::filesystem::path file = mDir / (std::string("m") + std::to_string(&c - &cases[0]));
    if (c.text) WriteFile(file, c.text);
    std::vector<std::string> keys;
    for (const FileEntry& entry : Reader(file).ReadEntries()) keys.push_back(entry.Key);
    EXPECT_EQ(keys, c.keys) << c.name;
  }
}

TEST_F(ManifestReaderTest, ProcessesPathsOfAnEntry) {
  struct Case {
    const char* lines;
    const char* serverPath;
    const char* localPath;
    const char* extractTo;
    const char* executeOption;
  };
  const std::vector<Case> cases = {
      {"Server Path=$ROOT/Sample\r\nLocal Path=$(AppPath)\r\n", "/Harrowin/Sample", "C:\\Tools",
       "C:\\Tools", ""},
      {"Server Path=$root/a/$Root\r\n", "/Harrowin/a//Harrowin", "", "", ""},
      {"Local Path=$(WinSysPath)\\sub\r\nExtract To=.\\\r\n", "", "C:\\Windows\\System32\\sub",
       "C:\\Windows\\System32\\sub", ""},
      {"Local Path=C:\\Sample\r\nExtract To=$(AppPath)/sub/deep\r\n", "", "C:\\Sample",
       "C:\\Tools\\sub\\deep", ""},
  };
  for (const Case& c : cases) {
    auto file = Manifest(std::string("[File1]\r\nKey=k\r\n") + c.lines);
    FileEntry entry = Reader(file).ReadEntry(1);
    EXPECT_EQ(entry.ServerPath, c.serverPath) << c.lines;
    EXPECT_EQ(entry.LocalPath, c.localPath) << c.lines;
    EXPECT_EQ(entry.ExtractTo, c.extractTo) << c.lines;
    EXPECT_EQ(entry.ExecuteOption, c.executeOption) << c.lines;
  }
}

TEST_F(ManifestReaderTest, ReadsAManifestInTheMachinesCodePage) {
  // A manifest written on Korean Windows: the values come back as UTF-8.
  IniStore korean{CodePage(949)};
  std::string caption = CodePage(949).FromUtf8("샘플 프로그램");
  auto file = Manifest("[File1]\r\nKey=k\r\nCaption=" + caption + "\r\n");
  ManifestReader reader(korean, file, mSettings, kAppFolder);
  EXPECT_EQ(reader.ReadEntry(1).Caption, "샘플 프로그램");
}

TEST_F(ManifestReaderTest, NumbersPastASixteenBitCounterAreRead) {
  constexpr long kCount = 32770;
  std::string text = "[Files]\r\nExecute=\r\n";
  for (long n = 1; n <= kCount; ++n) {
    std::string name = "f" + std::to_string(n) + ".dll";
    text += "[File" + std::to_string(n) + "]\r\nKey=" + name + "\r\nRealName=" + name +
            "\r\nLocal Path=$(AppPath)\r\n";
  }
  std::vector<FileEntry> entries = Reader(Manifest(text)).ReadEntries();
  ASSERT_EQ(entries.size(), static_cast<std::size_t>(kCount));
  EXPECT_EQ(entries[32766].Key, "f32767.dll");
  EXPECT_EQ(entries[32767].Key, "f32768.dll");
  EXPECT_EQ(entries.back().Realname, "f32770.dll");
  EXPECT_EQ(entries.back().LocalPath, "C:\\Tools");
}

}  // namespace
}  // namespace tandor
