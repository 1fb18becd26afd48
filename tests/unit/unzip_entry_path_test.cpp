// How stored entry names become paths below the target folder.

#include <gtest/gtest.h>

#include "unzip/EntryPath.h"

namespace tandor {
namespace {

TEST(UnzipEntryPathTest, NamesBecomeRelativePathsOrAreRefused) {
  struct Case {
    const char* name;
    bool keepFolders;
    const char* expected;  // nullptr: refused
  };
  const Case cases[] = {
      {"dir/sub/a.txt", true, "dir/sub/a.txt"},
      {"dir\\sub\\a.txt", true, "dir/sub/a.txt"},
      {"./dir//a.txt", true, "dir/a.txt"},
      {"dir/sub/a.txt", false, "a.txt"},
      {"ab:c.txt", true, "ab:c.txt"},
      {"", true, nullptr},
      {"../a.txt", true, nullptr},
      {"dir/../../a.txt", true, nullptr},
      {"/etc/passwd", true, nullptr},
      {"C:\\Windows\\a.dll", true, nullptr},
      {"c:a.dll", true, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto path = RelativeEntryPath(c.name, c.keepFolders);
    if (c.expected == nullptr) {
      EXPECT_FALSE(path.has_value()) << *path;
    } else {
      ASSERT_TRUE(path.has_value());
      EXPECT_EQ(path->string(), c.expected);
    }
  }
}

TEST(UnzipEntryPathTest, NamesNotFlaggedAsUtf8AreInTheCodePage) {
  const CodePage korean(949);
  EXPECT_EQ(EntryNameToUtf8("\xc7\xd1\xb1\xdb.txt", korean), "한글.txt");
  EXPECT_EQ(EntryNameToUtf8("한글.txt", korean), "한글.txt");
  EXPECT_EQ(EntryNameToUtf8("한글.txt", CodePage()), "한글.txt");
}

TEST(UnzipEntryPathTest, WildcardsMatchLikeInfoZip) {
  struct Case {
    const char* pattern;
    const char* name;
    bool matches;
  };
  const Case cases[] = {
      {"*.txt", "sub/a.txt", true}, {"*.txt", "a.TXT", false},       {"a?.dat", "a.dat", false},
      {"sub/*", "sub/x/y", true},   {"readme", "readme.txt", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(EntryNameMatches(c.pattern, c.name), c.matches) << c.pattern << " " << c.name;
  }
}

}  // namespace
}  // namespace tandor
