// Extraction of archives made by Python's zipfile and Info-ZIP zip: folders, overwriting, the
// list-only run, the options, and the status of archives that cannot be extracted.

#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <filesystem>

#include "support/TempDir.h"
#include "support/ZipTools.h"
#include "unzip/Unzip32.h"
#include "unzip/UnzipStatus.h"

namespace tandor {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::WriteFile;

class UnzipExtractTest : public ::testing::Test {
 protected:
  // Extracts `archive` into `target` the way the update window does.
  std::int32_t Extract(const fs::path& archive, const fs::path& target) {
    mUnzip.SetUnzipOptions({.ZipFile = archive, .TargetFolder = target});
    return mUnzip.RunUnzip();
  }

  std::size_t CountFiles(const fs::path& folder) {
    std::size_t count = 0;
    for (const auto& item : fs::recursive_directory_iterator(folder)) {
      if (!item.is_directory()) ++count;
    }
    return count;
  }

  test::TempDir mTemp;
  int mQuestions = 0;
  Unzip32 mUnzip{[this](const std::string&) {
    ++mQuestions;
    return std::string();
  }};
};

TEST_F(UnzipExtractTest, WritesEveryEntryInItsStoredFolder) {
  const fs::path archive = mTemp / "setup.zip";
  test::MakePythonZip(archive, R"(
z.writestr('readme.txt', 'stored text', compress_type=zipfile.ZIP_STORED)
z.writestr('bin/app.dat', b'\x00\x01' * 50000, compress_type=zipfile.ZIP_DEFLATED)
z.writestr('bin/plugins/deep/x.ini', '[x]\r\nA=1\r\n', compress_type=zipfile.ZIP_DEFLATED)
z.writestr('empty/', '')
z.writestr('한글 폴더/설명.txt', '안녕', compress_type=zipfile.ZIP_DEFLATED)
)");
  const fs::path target = mTemp / "new" / "Sample";  // folders that do not exist yet

  ASSERT_EQ(Extract(archive, target), unzipstatus::Ok);

  EXPECT_EQ(ReadFile(target / "readme.txt"), "stored text");
  std::string binary;
  for (int i = 0; i < 50000; ++i) binary += std::string("\x00\x01", 2);
  EXPECT_EQ(ReadFile(target / "bin" / "app.dat"), binary);
  EXPECT_EQ(ReadFile(target / "bin/plugins/deep/x.ini"), "[x]\r\nA=1\r\n");
  EXPECT_TRUE(fs::is_directory(target / "empty"));
  EXPECT_EQ(ReadFile(target / "한글 폴더" / "설명.txt"), "안녕");
  EXPECT_EQ(CountFiles(target), 4u) << "no temporary file may stay behind";
  EXPECT_EQ(mQuestions, 0);
}

// Existing files are replaced without a question: read-only ones, and the file of a program
// that is running.
TEST_F(UnzipExtractTest, ReplacesExistingFilesWithoutAsking) {
  const fs::path source = mTemp / "src";
  WriteFile(source / "Viewer", "new viewer");
  WriteFile(source / "data" / "table.dat", "new table");
  test::RunInfoZip(source, {"-q", "-r", (mTemp / "update.zip").string(), "."});
  const fs::path target = mTemp / "Sample";
  WriteFile(target / "data" / "table.dat", "old table, a longer text than the new one");
  fs::permissions(target / "data" / "table.dat", fs::perms::owner_read);
  WriteFile(target / "keep.txt", "not in the archive");
  fs::copy_file("/bin/sleep", target / "Viewer");
  const std::string program = (target / "Viewer").string();
  char* argv[] = {const_cast<char*>(program.c_str()), const_cast<char*>("30"), nullptr};
  pid_t pid = 0;
  ASSERT_EQ(posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv, nullptr), 0);

  const std::int32_t status = Extract(mTemp / "update.zip", target);
  const bool stillRunning = ::waitpid(pid, nullptr, WNOHANG) == 0;
  ::kill(pid, SIGKILL);
  ::waitpid(pid, nullptr, 0);

  EXPECT_EQ(status, unzipstatus::Ok);
  EXPECT_TRUE(stillRunning);
  EXPECT_EQ(ReadFile(target / "Viewer"), "new viewer");
  EXPECT_EQ(ReadFile(target / "data" / "table.dat"), "new table");
  EXPECT_EQ(ReadFile(target / "keep.txt"), "not in the archive");
  EXPECT_EQ(mQuestions, 0);
}

TEST_F(UnzipExtractTest, EmptyTargetFolderOnlyListsTheArchive) {
  const fs::path archive = mTemp / "a.zip";
  test::MakePythonZip(archive, "z.writestr('listed.txt', 'x')\nz.writestr('d/y.txt', 'y')");
  const auto before = CountFiles(mTemp.Path());

  EXPECT_EQ(Extract(archive, ""), unzipstatus::Ok);
  EXPECT_EQ(Extract(mTemp / "missing.zip", ""), unzipstatus::NoZip);

  EXPECT_EQ(CountFiles(mTemp.Path()), before);
  EXPECT_FALSE(fs::exists(fs::current_path() / "listed.txt"));
  EXPECT_FALSE(fs::exists(fs::current_path() / "d" / "y.txt"));
}

TEST_F(UnzipExtractTest, WithoutFoldersEveryFileLandsInTheTarget) {
  const fs::path archive = mTemp / "a.zip";
  test::MakePythonZip(archive, "z.writestr('x/y/deep.txt', 'deep')\nz.writestr('x/', '')");
  mUnzip.SetUnzipOptions({.ZipFile = archive,
                          .TargetFolder = mTemp / "out",
                          .ListContents = false,
                          .RecreateFolders = false});
  ASSERT_EQ(mUnzip.RunUnzip(), unzipstatus::Ok);
  EXPECT_EQ(ReadFile(mTemp / "out" / "deep.txt"), "deep");
  EXPECT_FALSE(fs::exists(mTemp / "out" / "x"));
}

TEST_F(UnzipExtractTest, IncludeAndExcludeListsPickEntries) {
  const fs::path archive = mTemp / "a.zip";
  test::MakePythonZip(archive, R"(
for name in ['a.txt', 'b.txt', 'c.dat', 'sub/d.txt']:
    z.writestr(name, name)
)");
  UnzipNameList include;
  include.Names[0] = "*.txt";
  include.Names[2] = "c.dat";  // after the first empty name: not counted
  UnzipNameList exclude;
  exclude.Names[0] = "b.*";
  mUnzip.SetUnzipOptions({.ZipFile = archive,
                          .TargetFolder = mTemp / "out",
                          .Include = include,
                          .Exclude = exclude,
                          .ListContents = false});
  ASSERT_EQ(mUnzip.RunUnzip(), unzipstatus::Ok);
  EXPECT_TRUE(fs::exists(mTemp / "out" / "a.txt"));
  EXPECT_TRUE(fs::exists(mTemp / "out" / "sub" / "d.txt"));
  EXPECT_FALSE(fs::exists(mTemp / "out" / "b.txt"));
  EXPECT_FALSE(fs::exists(mTemp / "out" / "c.dat"));
}

// Archives that cannot be extracted, and what stays of the files already in the target folder.
TEST_F(UnzipExtractTest, BrokenArchivesReportTheirStatus) {
  const fs::path good = mTemp / "good.zip";
  test::MakePythonZip(good, R"(
z.writestr('first.txt', 'first' * 1000, compress_type=zipfile.ZIP_DEFLATED)
z.writestr('second.txt', 'S' * 1000, compress_type=zipfile.ZIP_STORED)
)");
  const std::string bytes = ReadFile(good);
  std::string badCrc = bytes;
  badCrc[badCrc.find("SSSS") + 10] = 'T';
  std::string badDeflate = bytes;
  const std::size_t deflated = badDeflate.find("first.txt") + 9;
  for (std::size_t i = 0; i < 8; ++i) badDeflate[deflated + i] = '\xff';
  // Both entries declare 100 bytes, in their local headers and in the central directory, but
  // hold 5000 and 1000: a zip bomb in small.
  std::string bomb = bytes;
  for (const auto& [header, sizeAt] : {std::pair{"PK\3\4", 22}, std::pair{"PK\1\2", 24}}) {
    for (std::size_t at = 0; (at = bomb.find(header, at)) != std::string::npos; ++at)
      bomb.replace(at + sizeAt, 4, "d\0\0\0", 4);
  }

  struct Case {
    const char* name;
    std::string content;  // empty: the archive does not exist
    std::int32_t status;
    bool firstWritten;
    bool secondWritten;
  };
  const Case cases[] = {
      {"missing", "", unzipstatus::NoZip, false, false},
      {"not a zip", "This is a text file, not an archive.\r\n", unzipstatus::NoZip, false, false},
      {"bad crc", badCrc, unzipstatus::EntryError, true, false},
      {"bad deflate data", badDeflate, unzipstatus::EntryError, false, true},
      {"more data than declared", bomb, unzipstatus::EntryError, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path target = mTemp / "out" / c.name;
    WriteFile(target / "second.txt", "old second");
    const fs::path archive = mTemp / (std::string(c.name) + ".zip");
    if (!c.content.empty()) WriteFile(archive, c.content);

    EXPECT_EQ(Extract(archive, target), c.status);
    EXPECT_EQ(ReadFile(target / "second.txt"),
              c.secondWritten ? std::string(1000, 'S') : std::string("old second"));
    EXPECT_EQ(fs::exists(target / "first.txt"), c.firstWritten);
    EXPECT_EQ(CountFiles(target), c.firstWritten ? 2u : 1u) << "no temporary file may stay";
  }
}

}  // namespace
}  // namespace tandor
