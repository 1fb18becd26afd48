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
      {"empty text", "", ""},
      {"capitals", "[FILES]\r\n[FILE]\r\n[file12]\r\n[FiLe]",
       "[Files]\r\n[File1]\r\n[File2]\r\n[File3]"},
      {"renumbering twice changes nothing", "[Files]\r\n[File1]\r\n[File2]",
       "[Files]\r\n[File1]\r\n[File2]"},
      {"a header after other sections", "[Files]\r\n[Other]\r\n[File]",
       "[Files]\r\n[Other]\r\n[File1]"},
      {"an occurrence inside a value is renumbered too",
       "[Files]\r\nCaption=[File viewer]\r\n[File]", "[Files]\r\nCaption=[File1]\r\n[File2]"},
      {"an old [File0] in a value takes the next number",
       "[Files]\r\n[File]\r\nCaption=see [file0]", "[Files]\r\n[File1]\r\nCaption=see [File2]"},
      {"text around headers stays", "x[File]y\r\n[File]", "x[Files]y\r\n[File1]"},
      {"a header inside a header counts once", "[File[File]\r\n[File]", "[Files]\r\n[File1]"},
      {"Korean text is kept", "[Files]\r\nCaption=샘플\r\n[File]\r\nKey=가.dll",
       "[Files]\r\nCaption=샘플\r\n[File1]\r\nKey=가.dll"},
  };
  for (const Case& c : cases) EXPECT_EQ(RenumberEntries(c.text), c.expected) << c.name;
}

TEST(RenumberEntriesTest, LeavesAHeaderWithoutClosingBracketAsItIs) {
  struct Case {
    const char* name;
    std::string text;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"at the end of the text", "[Files]\r\n[File]\r\nKey=a\r\n[File",
       "[Files]\r\n[File1]\r\nKey=a\r\n[File"},
      {"the only header", "[File\r\nKey=a", "[File\r\nKey=a"},
      // The "]" of a later header must not make the broken one swallow the lines between.
      {"before a good header", "[Files]\r\n[File\r\nKey=a\r\n[File]\r\nKey=b",
       "[Files]\r\n[File\r\nKey=a\r\n[File1]\r\nKey=b"},
      {"with a LF line end", "[Files]\n[File2\nKey=a\n[File]\nKey=b",
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
