// Reading listing lines, matching patterns, date values, the keyed list and the message form;
// which failure gives which number is checked against real servers.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <functional>

#include "platform/Error.h"
#include "transfer/DirList.h"
#include "transfer/FtpListing.h"
#include "transfer/InternetError.h"

namespace tandor {
namespace {

// 2024-03-05 12:00:00 UTC
constexpr std::time_t Now = 1709640000;

std::int64_t Utc(int year, int month, int day, int hour, int minute) {
  std::tm time{};
  time.tm_year = year - 1900;
  time.tm_mon = month - 1;
  time.tm_mday = day;
  time.tm_hour = hour;
  time.tm_min = minute;
  return timegm(&time);
}

TEST(ListingLineTest, ReadsTheUnixDosAndMachineForms) {
  struct Case {
    const char* line;
    bool machine;
    std::uint32_t attributes;
    std::int64_t size;
    std::int64_t modified;
    const char* name;
  };
  const Case cases[] = {
      // A date ahead of today with a time belongs to last year.
      {"-rw-r--r--   1 owner group  5 Dec 31 23:59 old.txt", false, 0x80, 5,
       Utc(2023, 12, 31, 23, 59), "old.txt"},
      {"lrwxrwxrwx   1 o g  3 Mar 01 10:00 link -> target", false, 0x80, 3, Utc(2024, 3, 1, 10, 0),
       "link"},
      {"03-04-24  01:05PM       <DIR>          Dos Folder", false, 0x10, 0, Utc(2024, 3, 4, 13, 5),
       "Dos Folder"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    auto entry = c.machine ? ParseMlsdLine(c.line) : ParseListLine(c.line, Now);
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->Attributes, c.attributes);
    EXPECT_EQ(entry->Size, c.size);
    EXPECT_EQ(entry->ModifiedUtc, c.modified);
    EXPECT_EQ(entry->Name, c.name);
  }
}

TEST(ListingLineTest, SkipsLinesThatAreNoEntries) {
  for (const char* line : {"total 12", "drwxr-xr-x 2 o g 4096 Jan 02 03:04 ..", "garbage"}) {
    EXPECT_FALSE(ParseListLine(line, Now)) << line;
  }
  for (const char* line : {"type=cdir; /x", "type=pdir; ..", "size=3", "nofacts"}) {
    EXPECT_FALSE(ParseMlsdLine(line)) << line;
  }
  auto entries = ParseListing("total 2\r\n-rw-r--r-- 1 o g 1 Jan 02 03:04 a\r\n", false, Now);
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].Name, "a");
}

TEST(PatternTest, StarAndQuestionMarkIgnoringCase) {
  struct Case {
    const char* name;
    const char* pattern;
    bool matches;
  };
  for (const Case& c : {Case{"Setup.EXE", "*.exe", true}, Case{"a12.txt", "a?.txt", false},
                        Case{"aXbXc", "a*b*c", true}, Case{"abc", "*b", false}}) {
    EXPECT_EQ(MatchesNamePattern(c.name, c.pattern), c.matches) << c.name << " " << c.pattern;
  }
}

TEST(DateValueTest, CountsDaysFromTheLastDayOf1899InLocalTime) {
  setenv("TZ", "Asia/Seoul", 1);
  tzset();
  // 2000-01-01 00:00 UTC is 09:00 in Seoul: day 36526 plus 9/24.
  EXPECT_DOUBLE_EQ(LocalDateFromUnixTime(946684800), 36526 + 9.0 / 24);
  setenv("TZ", "UTC", 1);
  tzset();
  EXPECT_DOUBLE_EQ(LocalDateFromUnixTime(0), 25569);
  unsetenv("TZ");
  tzset();
}

TEST(DirListTest, KeysIgnoreCasePositionsCountFromOne) {
  DirList list;
  list.Add(0x20, 1, 2, 3, 10, "First.txt");
  list.Add(0x10, 0, 0, 0, 0, "folder");
  EXPECT_EQ(list.Count(), 2u);
  const DirItem& first = list.Item(1);
  EXPECT_EQ(first.LastWriteTime, 3);
  EXPECT_EQ(&list.Item("FIRST.TXT"), &first);
  EXPECT_TRUE(list.Item(2).Directory);
  struct Bad {
    std::function<void()> call;
    int number;
  };
  for (const Bad& bad :
       {Bad{[&] { list.Item(std::size_t{0}); }, 5}, Bad{[&] { list.Item("none"); }, 5},
        Bad{[&] { list.Add(0, 0, 0, 0, 0, "first.TXT"); }, 457}}) {
    try {
      bad.call();
      ADD_FAILURE() << "no error";
    } catch (const RuntimeError& error) {
      EXPECT_EQ(error.Number(), bad.number);
    }
  }
  EXPECT_EQ(list.Count(), 2u);
  list.Clear();
  EXPECT_EQ(list.Count(), 0u);
}

TEST(InternetErrorTest, MessageForm) {
  EXPECT_EQ(FormatInternetError("InternetConnect", 12029, InternetErrorText(12029)),
            "InternetConnect error code: 12029 Message: A connection with the server could not be "
            "established.");
  // A number without a text leaves the message ending after "Message: ".
  EXPECT_EQ(FormatInternetError("X", 6, InternetErrorText(6)), "X error code: 6 Message: ");
}

}  // namespace
}  // namespace tandor
