// Listings from the FTP server of servers.py, in machine listings (MLSD) and in plain LIST; then
// the listing forms that server does not produce, line by line.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <set>

#include "platform/Error.h"
#include "support/FtpServer.h"
#include "support/TempDir.h"
#include "transfer/FTP.h"

namespace tandor::test {
namespace {

class FtpListingTest : public ::testing::TestWithParam<bool> {
 protected:
  FtpListingTest() {
    WriteFile(mRoot / "a1.txt", "12345");
    WriteFile(mRoot / "a2.txt", "");
    WriteFile(mRoot / "b c.txt", std::string(70000, 'x'));
    std::filesystem::create_directories(mRoot / "adir");
    EXPECT_TRUE(mFtp.OpenConnection("127.0.0.1", "tandor", "secret", mServer.PortText()));
  }

  // The names in the listing of `filter`, whose count must agree.
  std::set<std::string> Names(const char* filter) {
    std::set<std::string> names;
    auto list = mFtp.GetDirectoryListing(filter);
    for (std::size_t i = 1; list && i <= list->Count(); ++i) names.insert(list->Item(i).FileName);
    EXPECT_EQ(mFtp.GetDirectoryDataCount(filter), static_cast<std::int16_t>(names.size()));
    return names;
  }

  TempDir mDir;
  FtpServer mServer{mDir / "srv", {GetParam(), true, "none", ""}};
  std::filesystem::path mRoot = mServer.Root();
  FTP mFtp;
};

INSTANTIATE_TEST_SUITE_P(Forms, FtpListingTest, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "Mlsd" : "List"; });

// Patterns ignore case; nothing matching, or an empty folder, is no list and no failure.
TEST_P(FtpListingTest, PatternsSelectTheMatchingEntries) {
  const std::pair<const char*, std::set<std::string>> rows[] = {
      {"a*", {"a1.txt", "a2.txt", "adir"}},
      {"*.txt", {"a1.txt", "a2.txt", "b c.txt"}},
      {"A?.TXT", {"a1.txt", "a2.txt"}},
      {"b c.txt", {"b c.txt"}},
      {"/adir", {"adir"}},
      {"*.*", {"a1.txt", "a2.txt", "b c.txt", "adir"}},
      {"zz*", {}},
      {"adir/*", {}},
  };
  for (const auto& [filter, names] : rows) EXPECT_EQ(Names(filter), names) << filter;
  EXPECT_EQ(mFtp.GetLastErrorMessage(), "");
  // A folder that is not there is a failure with the server's reply (550, or 501 to MLSD).
  EXPECT_EQ(mFtp.GetDirectoryListing("nowhere/*"), nullptr);
  EXPECT_THAT(mFtp.GetLastErrorMessage(), ::testing::MatchesRegex("5[0-9][0-9] .*"));
}

// Keys ignore case, and of two names differing only in case the first is kept.
TEST_P(FtpListingTest, EntriesCarryAttributesSizesAndTimes) {
  for (const char* name : {"sub/Same.txt", "sub/same.txt", "sub/z.txt"})
    WriteFile(mRoot / name, "");
  auto sub = mFtp.GetDirectoryListing("sub/*");
  EXPECT_TRUE(sub && sub->Count() == 2 && sub->Contains("z.txt") && sub->Contains("SAME.TXT"));
  EXPECT_EQ(mFtp.GetDirectoryDataCount("sub/*"), 3);
  auto list = mFtp.GetDirectoryListing("*");
  ASSERT_TRUE(list);
  const DirItem& file = list->Item("B C.TXT");
  EXPECT_EQ(file.FileName, "b c.txt");
  EXPECT_EQ(file.FileSize, 70000);
  EXPECT_TRUE(!file.Directory && file.Normal && !file.ReadOnly && list->Item("adir").Directory);
  // Written just now: the date value is today's, to the listing's minute.
  EXPECT_NEAR(file.LastWriteTime, LocalDateFromUnixTime(std::time(nullptr)), 2.0 / 24 / 60);
}

// A date ahead of today with a time is last year's; lines that are no entries are skipped.
TEST(ListingLineTest, ReadsUnixAndDosLinesAndSkipsTheRest) {
  const auto entries = ParseListing(  // on 2024-03-05 12:00 UTC
      "total 12\r\n-rw-r--r--   1 owner group  5 Dec 31 23:59 old.txt\r\ngarbage\r\n"
      "lrwxrwxrwx   1 o g  3 Mar 01 10:00 link -> target\r\n"
      "drwxr-xr-x 2 o g 4096 Jan 02 03:04 ..\r\n03-04-24  01:05PM  <DIR>  Dos Folder\r\n",
      false, 1709640000);
  const std::tuple<std::uint32_t, std::int64_t, std::int64_t, const char*> rows[] = {
      {0x80, 5, 1704067140, "old.txt"},      // 2023-12-31 23:59
      {0x80, 3, 1709287200, "link"},         // 2024-03-01 10:00
      {0x10, 0, 1709557500, "Dos Folder"}};  // 2024-03-04 13:05
  ASSERT_EQ(entries.size(), 3u);
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const ListedEntry& e = entries[i];
    EXPECT_EQ(std::tie(e.Attributes, e.Size, e.ModifiedUtc, e.Name), rows[i]);
  }
  for (const char* line : {"type=cdir; /x", "type=pdir; ..", "size=3", "nofacts"})
    EXPECT_FALSE(ParseMlsdLine(line)) << line;
}

// Patterns backtrack; date values count days from the last day of 1899 in local time; a
// position or key that is not there fails, and so does a second key.
TEST(ListingLineTest, PatternsDatesAndTheKeyedList) {
  for (const auto& [name, pattern, matches] : {std::tuple{"Setup.EXE", "*.exe", true},
                                               {"a12.txt", "a?.txt", false},
                                               {"aXbXc", "a*b*c", true},
                                               {"abc", "*b", false}})
    EXPECT_EQ(MatchesNamePattern(name, pattern), matches) << name << " " << pattern;
  setenv("TZ", "Asia/Seoul", 1);
  tzset();
  EXPECT_DOUBLE_EQ(LocalDateFromUnixTime(946684800), 36526 + 9.0 / 24);  // 2000-01-01 09:00
  unsetenv("TZ");
  tzset();
  DirList list;
  list.Add(0x20, 1, 2, 3, 10, "First.txt");
  EXPECT_EQ(&list.Item("FIRST.TXT"), &list.Item(1));
  const auto throws = [](int number) {
    return ::testing::Throws<RuntimeError>(::testing::Property(&RuntimeError::Number, number));
  };
  EXPECT_THAT([&] { list.Item(std::size_t{0}); }, throws(5));
  EXPECT_THAT([&] { list.Item("none"); }, throws(5));
  EXPECT_THAT([&] { list.Add(0, 0, 0, 0, 0, "first.TXT"); }, throws(457));
  EXPECT_EQ(list.Count(), 1u);
}

}  // namespace
}  // namespace tandor::test
