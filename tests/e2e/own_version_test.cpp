// The version resource the build embeds in the updater, read back from the built binary.

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/Prefix.h"
#include "support/FileVersionPrinter.h"
#include "support/TempDir.h"
#include "util/FileVersion.h"
#include "util/NormalizeVersion.h"

namespace tandor {
namespace {

namespace fs = std::filesystem;

TEST(OwnVersionTest, RenamedCopyOfTheUpdaterStillKnowsWhatItIs) {
  test::TempDir temp;
  Prefix prefix(temp.Path());
  fs::path copy = temp / "drive_c" / "Sample" / "TandorOld";
  fs::create_directories(copy.parent_path());
  fs::copy_file(TANDOR_BINARY, copy);

  const FileVersionFields expected{"Harrowin",
                                   "Tandor 자동 업데이트",
                                   "1.00.0210",
                                   "Tandor",
                                   "Copyright (C) Harrowin",
                                   "Tandor",
                                   "Tandor",
                                   "1.00.0210"};
  for (int codePage : {65001, 949}) {
    VersionInfoQuery query(prefix, CodePage(codePage));
    EXPECT_EQ(query.QueryFileVersionInfo(TANDOR_BINARY), expected);
    EXPECT_EQ(query.QueryFileVersionInfo("C:\\Sample\\TandorOld"), expected);
    EXPECT_EQ(query.QueryFileVersionInfo(""), expected);
  }
  EXPECT_EQ(GetFileVersion(copy), "1.0.0.210");
  EXPECT_EQ(GetFileVersion(TANDOR_BINARY), "1.0.0.210");
  // The two forms of the version normalize to comparable texts.
  EXPECT_EQ(NormalizeVersion(expected.FileVersion, ""), "100000000000000000000210000000");
}

TEST(OwnVersionTest, ProgramReadsItsOwnVersionFromItsRunningFile) {
  // This test program carries the updater's resource as well.
  ProgramVersion version = ReadOwnProgramVersion();
  EXPECT_EQ(version.Major, 1);
  EXPECT_EQ(version.Minor, 0);
  EXPECT_EQ(version.Revision, 210);
}

}  // namespace
}  // namespace tandor
