// Archives that try to write outside their target folder, and targets that cannot be written.

#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "support/TempDir.h"
#include "support/ZipTools.h"
#include "unzip/Unzip32.h"
#include "unzip/UnzipStatus.h"
#include "unzip/ZipExtraction.h"

namespace tandor {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::WriteFile;

class UnzipSafetyTest : public ::testing::Test {
 protected:
  std::int32_t Extract(const fs::path& archive, const fs::path& target) {
    mUnzip.SetUnzipOptions({.ZipFile = archive, .TargetFolder = target});
    return mUnzip.RunUnzip();
  }

  // Every file and link below the temporary folder but outside the folders named "target",
  // archives left out.
  std::set<fs::path> FilesOutsideTargets() {
    std::set<fs::path> files;
    for (auto it = fs::recursive_directory_iterator(mTemp.Path());
         it != fs::recursive_directory_iterator(); ++it) {
      if (it->path().filename() == "target") {
        it.disable_recursion_pending();
        continue;
      }
      if (!it->is_directory() && it->path().extension() != ".zip") {
        files.insert(fs::relative(it->path(), mTemp.Path()));
      }
    }
    return files;
  }

  test::TempDir mTemp;
  Unzip32 mUnzip{[](const std::string&) { return std::string(); }};
};

TEST_F(UnzipSafetyTest, NoEntryWritesOutsideTheTargetFolder) {
  const fs::path outside = mTemp / "outside";
  WriteFile(outside / "victim.txt", "untouched");
  const std::string outsideName = outside.string();
  struct Case {
    const char* name;
    std::string script;  // adds the dangerous entries; good.txt comes first in every archive
  };
  const Case cases[] = {
      {"dot dot inside", "z.writestr('sub/../../../escape.txt', 'x')"},
      {"backslash dot dot", "z.writestr(zipfile.ZipInfo('..\\\\..\\\\escape.txt'), 'x')"},
      {"absolute", "z.writestr('" + outsideName + "/victim.txt', 'overwritten')"},
      {"symlink to folder",
       "i = zipfile.ZipInfo('link')\ni.external_attr = 0o120777 << 16\n"
       "z.writestr(i, '" +
           outsideName + "')\nz.writestr('link/victim.txt', 'overwritten')"},
      {"relative symlink",
       "i = zipfile.ZipInfo('d/link')\ni.external_attr = 0o120777 << 16\n"
       "z.writestr(i, '../../../../../outside')\nz.writestr('d/link/new.txt', 'x')"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path archive = mTemp / (std::string(c.name) + ".zip");
    test::MakePythonZip(archive, "z.writestr('good.txt', 'good')\n" + c.script);
    const fs::path target = mTemp / "work" / c.name / "in" / "target";

    const std::int32_t status = Extract(archive, target);

    EXPECT_NE(status, unzipstatus::Ok);
    EXPECT_NE(status, unzipstatus::DiskError);
    EXPECT_EQ(ReadFile(target / "good.txt"), "good");
    EXPECT_EQ(FilesOutsideTargets(), std::set<fs::path>{"outside/victim.txt"});
    EXPECT_EQ(ReadFile(outside / "victim.txt"), "untouched");
  }
}

TEST_F(UnzipSafetyTest, AFileReplacesALinkInsteadOfWritingThroughIt) {
  WriteFile(mTemp / "outside" / "victim.txt", "untouched");
  const fs::path target = mTemp / "target";
  fs::create_directories(target);
  fs::create_symlink(mTemp / "outside" / "victim.txt", target / "Viewer");
  const fs::path archive = mTemp / "a.zip";
  test::MakePythonZip(archive, "z.writestr('Viewer', 'new viewer')");

  EXPECT_EQ(Extract(archive, target), unzipstatus::Ok);

  EXPECT_FALSE(fs::is_symlink(target / "Viewer"));
  EXPECT_EQ(ReadFile(target / "Viewer"), "new viewer");
  EXPECT_EQ(ReadFile(mTemp / "outside" / "victim.txt"), "untouched");
}

// Tests run as root, so the failures are ones that no permission overrides; a full disk is
// pretended.
TEST_F(UnzipSafetyTest, AnOutputFileThatCannotBeWrittenIsStatus50) {
  const fs::path archive = mTemp / "a.zip";
  test::MakePythonZip(archive, "z.writestr('Viewer', 'new')\nz.writestr('sub/other.txt', 'o')");

  const fs::path folderInTheWay = mTemp / "folder in the way";
  WriteFile(folderInTheWay / "Viewer" / "keep.txt", "keep");
  EXPECT_EQ(Extract(archive, folderInTheWay), unzipstatus::DiskError);
  EXPECT_EQ(ReadFile(folderInTheWay / "Viewer" / "keep.txt"), "keep");
  EXPECT_EQ(ReadFile(folderInTheWay / "sub" / "other.txt"), "o");

  const fs::path fileInTheWay = mTemp / "file in the way";
  WriteFile(fileInTheWay / "sub", "a file where a folder must go");
  EXPECT_EQ(Extract(archive, fileInTheWay), unzipstatus::DiskError);
  EXPECT_EQ(ReadFile(fileInTheWay / "sub"), "a file where a folder must go");
  EXPECT_EQ(ReadFile(fileInTheWay / "Viewer"), "new");

  // A disk with room for the two files (4 bytes) but not for the margin on top of them: nothing
  // is written. One byte more and the archive goes in.
  std::uint64_t freeBytes = 4 + FreeSpaceMargin - 1;
  Unzip32 smallDisk([](const std::string&) { return std::string(); }, CodePage(),
                    [&freeBytes](const fs::path&) { return freeBytes; });
  const fs::path fullDisk = mTemp / "full disk";
  WriteFile(fullDisk / "Viewer", "old");
  smallDisk.SetUnzipOptions({.ZipFile = archive, .TargetFolder = fullDisk});
  EXPECT_EQ(smallDisk.RunUnzip(), unzipstatus::DiskError);
  EXPECT_EQ(ReadFile(fullDisk / "Viewer"), "old");
  EXPECT_FALSE(fs::exists(fullDisk / "sub"));
  ++freeBytes;
  EXPECT_EQ(smallDisk.RunUnzip(), unzipstatus::Ok);
  EXPECT_EQ(ReadFile(fullDisk / "Viewer"), "new");
}

}  // namespace
}  // namespace tandor
