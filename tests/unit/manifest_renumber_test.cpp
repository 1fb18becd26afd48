// Numbering of the section headers before the publisher saves a manifest.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "manifest/RenumberEntries.h"

namespace tandor {
namespace {

TEST(RenumberEntriesTest, NumbersHeadersInTextOrder) {
  struct Case {
    const char* name;
    std::string text;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"settings, two new entries, an old number",
       "[Files]\r\nExecute=2\r\n[File]\r\nKey=a\r\n[File]\r\nKey=b\r\n[File9]\r\nKey=c",
       "[Files]\r\nExecute=2\r\n[File1]\r\nKey=a\r\n[File2]\r\nKey=b\r\n[File3]\r\nKey=c"},
      {"no settings: the first entry becomes [Files]", "[File]\r\nKey=a\r\n[File]\r\nKey=b",
       "[Files]\r\nKey=a\r\n[File1]\r\nKey=b"},
      {"no header at all", "Key=a\r\n[Other]\r\nx=[Fil]\r\n", "Key=a\r\n[Other]\r\nx=[Fil]\r\n"},
      {"capitals", "[FILES]\r\n[FILE]\r\n[file12]\r\n[FiLe]",
       "[Files]\r\n[File1]\r\n[File2]\r\n[File3]"},
      {"an occurrence inside a value is renumbered too",
       "[Files]\r\nCaption=[File viewer]\r\n[File]", "[Files]\r\nCaption=[File1]\r\n[File2]"},
      {"an old [File0] in a value takes the next number",
       "[Files]\r\n[File]\r\nCaption=see [file0]", "[Files]\r\n[File1]\r\nCaption=see [File2]"},
      {"a header inside a header counts once", "[File[File]\r\n[File]", "[Files]\r\n[File1]"},
      // A header without its "]" stays, and a later header's "]" does not close it.
      {"unclosed header", "[Files]\r\n[File\r\nKey=a\r\n[File]\r\nKey=b\r\n[File",
       "[Files]\r\n[File\r\nKey=a\r\n[File1]\r\nKey=b\r\n[File"},
      {"unclosed header, LF line ends", "[Files]\n[File2\nKey=a\n[File]\nKey=b",
       "[Files]\n[File2\nKey=a\n[File1]\nKey=b"},
  };
  for (const Case& c : cases) EXPECT_EQ(RenumberEntries(c.text), c.expected) << c.name;
}

TEST(RenumberEntriesTest, NumbersTextOfAnyLength) {
  // Far more than 32,767 characters and entries: every header gets its number.
  constexpr int kEntries = 40000;
  std::string text = "[Files]\r\nExecute=1\r\n";
  std::string expected = text;
  for (int n = 1; n <= kEntries; ++n) {
    text += "[File]\r\nKey=file" + std::to_string(n) + ".dll\r\n";
    expected += "[File" + std::to_string(n) + "]\r\nKey=file" + std::to_string(n) + ".dll\r\n";
  }
  ASSERT_GT(text.size(), 32767u * 20);
  EXPECT_EQ(RenumberEntries(text), expected);
}

}  // namespace
}  // namespace tandor
