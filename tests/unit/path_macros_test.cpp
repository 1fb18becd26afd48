#include "util/PathMacros.h"

#include <gtest/gtest.h>

#include "support/PassHarness.h"

namespace tandor::test {
namespace {

TEST(ExpandPathMacros, LaterPassesExpandWhatEarlierPassesInserted) {
  // The application folder's text names a later macro: the later pass expands it; a value
  // naming an earlier macro stays as it is.
  EXPECT_EQ(ExpandPathMacros("$(AppPath)", SampleSettings(), "$(WinPath)\\x"), "C:\\Windows\\x");
  ClientSettings s = SampleSettings();
  s.WinSysPath = "$(AppPath)";
  EXPECT_EQ(ExpandPathMacros("$(WinSysPath)", s, "C:\\Tools"), "$(AppPath)");
  // A registry folder that could not be read inserts its error text.
  s.ProgramFiles = "?Error";
  EXPECT_EQ(ExpandPathMacros("$(ProgramFiles)\\App", s, "C:\\Tools"), "?Error\\App");
}

}  // namespace
}  // namespace tandor::test
