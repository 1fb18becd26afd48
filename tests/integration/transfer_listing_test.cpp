// Remote file management and listings against a real FTP server, with machine listings (MLSD)
// and with plain LIST.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "support/FtpServer.h"
#include "support/TempDir.h"
#include "transfer/FTP.h"

namespace tandor {
namespace {

using test::FtpServer;
using test::FtpServerOptions;
using test::TempDir;
using test::WriteFile;
using ::testing::StartsWith;

std::set<std::string> Names(const DirList& list) {
  std::set<std::string> names;
  for (std::size_t i = 1; i <= list.Count(); ++i) names.insert(list.Item(i).FileName);
  return names;
}

class FtpListingTest : public ::testing::TestWithParam<bool> {
 protected:
  FtpListingTest() : mServer(mDir / "srv", Options()) {
    WriteFile(mServer.Root() / "a1.txt", "12345");
    WriteFile(mServer.Root() / "a2.txt", "");
    WriteFile(mServer.Root() / "b c.txt", std::string(70000, 'x'));
    std::filesystem::create_directories(mServer.Root() / "adir");
    EXPECT_TRUE(
        mFtp.OpenConnection("127.0.0.1", mServer.User(), mServer.Password(), mServer.PortText()));
  }

  static FtpServerOptions Options() {
    FtpServerOptions options;
    options.MachineListings = GetParam();
    return options;
  }

  TempDir mDir;
  FtpServer mServer;
  FTP mFtp;
};

INSTANTIATE_TEST_SUITE_P(Forms, FtpListingTest, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "Mlsd" : "List"; });

TEST_P(FtpListingTest, PatternsSelectTheMatchingEntries) {
  struct Case {
    const char* filter;
    std::set<std::string> names;
  };
  for (const Case& c :
       {Case{"a*", {"a1.txt", "a2.txt", "adir"}}, Case{"*.txt", {"a1.txt", "a2.txt", "b c.txt"}},
        Case{"A?.TXT", {"a1.txt", "a2.txt"}}, Case{"b c.txt", {"b c.txt"}}, Case{"/adir", {"adir"}},
        Case{"*.*", {"a1.txt", "a2.txt", "b c.txt", "adir"}}}) {
    SCOPED_TRACE(c.filter);
    auto list = mFtp.GetDirectoryListing(c.filter);
    ASSERT_TRUE(list);
    EXPECT_EQ(Names(*list), c.names);
    EXPECT_EQ(mFtp.GetDirectoryDataCount(c.filter), static_cast<std::int16_t>(c.names.size()));
    EXPECT_EQ(mFtp.Directory(), list);
  }
}

TEST_P(FtpListingTest, EntriesCarryAttributesSizesAndTimes) {
  auto list = mFtp.GetDirectoryListing("*");
  ASSERT_TRUE(list);
  const DirItem& file = list->Item("B C.TXT");  // keys ignore case
  EXPECT_EQ(file.FileName, "b c.txt");
  EXPECT_EQ(file.FileSize, 70000);
  EXPECT_FALSE(file.Directory);
  EXPECT_TRUE(file.Normal);
  EXPECT_FALSE(file.ReadOnly);
  const DirItem& folder = list->Item("adir");
  EXPECT_TRUE(folder.Directory);
  // Written just now: the date value is today's, to the listing's minute.
  const double now = LocalDateFromUnixTime(std::time(nullptr));
  EXPECT_NEAR(file.LastWriteTime, now, 2.0 / 24 / 60);
  EXPECT_EQ(file.CreationTime, file.LastWriteTime);
}

TEST_P(FtpListingTest, NothingMatchingGivesNoListAndNoMessage) {
  EXPECT_EQ(mFtp.GetDirectoryListing("zz*"), nullptr);
  EXPECT_EQ(mFtp.GetDirectoryDataCount("zz*"), 0);
  EXPECT_EQ(mFtp.GetLastErrorMessage(), "");
  EXPECT_EQ(mFtp.Directory()->Count(), 0u);
  std::filesystem::create_directories(mServer.Root() / "empty");
  EXPECT_EQ(mFtp.GetDirectoryListing("empty/*"), nullptr);
  EXPECT_EQ(mFtp.GetLastErrorMessage(), "");
  // A folder that is not there is a failure with the server's reply (550, or 501 to MLSD).
  EXPECT_EQ(mFtp.GetDirectoryListing("nowhere/*"), nullptr);
  EXPECT_THAT(mFtp.GetLastErrorMessage(), ::testing::MatchesRegex("5[0-9][0-9] .*"));
}

TEST_P(FtpListingTest, RemoteFileManagementAndCurrentFolder) {
  EXPECT_EQ(mFtp.GetFTPDirectory(), "/");
  EXPECT_TRUE(mFtp.CreateFTPDirectory("new dir"));
  EXPECT_TRUE(std::filesystem::is_directory(mServer.Root() / "new dir"));
  EXPECT_TRUE(mFtp.SetFTPDirectory("new dir"));
  EXPECT_EQ(mFtp.GetFTPDirectory(), "/new dir");
  // Relative names now refer to the new folder.
  WriteFile(mDir / "up.txt", "up");
  EXPECT_TRUE(mFtp.FTPUploadFile(mDir / "up.txt", "up.txt"));
  EXPECT_TRUE(std::filesystem::exists(mServer.Root() / "new dir" / "up.txt"));
  auto list = mFtp.GetDirectoryListing("*");
  ASSERT_TRUE(list);
  EXPECT_EQ(Names(*list), std::set<std::string>{"up.txt"});
  EXPECT_TRUE(mFtp.RenameFTPFile("up.txt", "/moved.txt"));
  EXPECT_TRUE(std::filesystem::exists(mServer.Root() / "moved.txt"));
  EXPECT_TRUE(mFtp.SetFTPDirectory(".."));
  EXPECT_TRUE(mFtp.RemoveFTPDirectory("new dir"));
  EXPECT_TRUE(mFtp.DeleteFTPFile("moved.txt"));
  EXPECT_FALSE(std::filesystem::exists(mServer.Root() / "moved.txt"));
  EXPECT_EQ(mFtp.GetLastErrorMessage(), "");

  for (bool result : {mFtp.SetFTPDirectory("nowhere"), mFtp.RemoveFTPDirectory("nowhere"),
                      mFtp.RenameFTPFile("nothing", "x"), mFtp.DeleteFTPFile("nothing")}) {
    EXPECT_FALSE(result);
  }
  EXPECT_THAT(mFtp.GetLastErrorMessage(), StartsWith("550 "));
}

TEST_P(FtpListingTest, NamesDifferingOnlyInCaseKeepTheFirst) {
  WriteFile(mServer.Root() / "sub" / "Same.txt", "1");
  WriteFile(mServer.Root() / "sub" / "same.txt", "22");
  WriteFile(mServer.Root() / "sub" / "z.txt", "333");
  auto list = mFtp.GetDirectoryListing("sub/*");
  ASSERT_TRUE(list);
  EXPECT_EQ(list->Count(), 2u);
  EXPECT_TRUE(list->Contains("z.txt"));
  EXPECT_TRUE(list->Contains("SAME.TXT"));
  EXPECT_EQ(mFtp.GetDirectoryDataCount("sub/*"), 3);
}

}  // namespace
}  // namespace tandor
