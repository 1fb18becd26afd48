// How a process gets its name, and how a command line's arguments are split.

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/CommandLine.h"
#include "platform/ProcessList.h"

namespace tandor {
namespace {

using namespace std::string_literals;

TEST(ProcessImageName, TakesTheExecutableThenTheCommandLineThenTheKernelName) {
  struct Case {
    const char* label;
    std::optional<std::string> exe;
    std::string cmdline;
    std::string stat;
    std::string name;
  };
  const Case cases[] = {
      {"executable file name", "/opt/app/TandorSample"s, "", "", "TandorSample"},
      {"replaced while running", "/opt/app/TandorSample (deleted)"s, "", "", "TandorSample"},
      {"unreadable exe: argv[0]", std::nullopt, "/usr/lib/TandorVeryLongProductName\0-q\0"s,
       "7 (TandorVeryLong) S 1", "TandorVeryLongProductName"},
      {"kernel thread: stat name", std::nullopt, "", "2 (kthreadd) S 0", "kthreadd"},
      {"name with parentheses", std::nullopt, "", "9 (a (b) c) R 1", "a (b) c"},
      {"zombie has ended", std::nullopt, "", "7 (TandorSample) Z 1", ""},
  };
  for (const Case& c : cases)
    EXPECT_EQ(ProcessImageNameFrom(c.exe, c.cmdline, c.stat), c.name) << c.label;
}

TEST(SplitArguments, FollowsTheCRuntimeRules) {
  struct Case {
    std::string text;
    std::vector<std::string> words;
  };
  const Case cases[] = {
      {" a  b\tc ", {"a", "b", "c"}}, {R"("C:\My Files\a.dll" /S)", {R"(C:\My Files\a.dll)", "/S"}},
      {R"(a"b c"d)", {"ab cd"}},      {R"(a\\"b c" d)", {R"(a\b c)", "d"}},
      {R"(a\\\"b)", {R"(a\"b)"}},     {R"("a""b" c)", {R"(a"b)", "c"}},
  };
  for (const Case& c : cases) EXPECT_EQ(SplitArguments(c.text), c.words) << c.text;
}

}  // namespace
}  // namespace tandor
