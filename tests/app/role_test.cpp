#include "app/Role.h"

#include <gtest/gtest.h>

namespace tandor::test {
namespace {

// The role of a program from its argument, its file name and its version resource's name.
TEST(DecideRole, Table) {
  const struct {
    const char *Argument, *BaseName, *InternalName;
    Role Expected;
  } cases[] = {
      {"", "Tandor", "Tandor", Role::None},
      {"$version", "anything", "", Role::Publisher},
      {"$Version x", "Tandor", "Tandor", Role::Launcher},
      {"$NET", "Tandor", "Tandor", Role::AddressDisplay},
      {"Sample", "TANDOR", "Tandor", Role::Launcher},
      {"sample", "TandorSAMPLE", "Tandor", Role::WorkingCopy},
      {"Other", "TandorSample", "Tandor", Role::Damaged},
      {"Sample", "Sample", "", Role::WorkingCopy},  // no version resource
      {"Sample", "Tandor", "", Role::Damaged},
  };
  for (const auto& c : cases)
    EXPECT_EQ(DecideRole(c.Argument, c.BaseName, c.InternalName), c.Expected)
        << c.Argument << " / " << c.BaseName;
}

TEST(ArgumentText, JoinsArgumentsWithOneBlank) {
  const char* argv[] = {"Tandor", "My", "Product", ""};
  EXPECT_EQ(ArgumentText(1, argv), "");
  EXPECT_EQ(ArgumentText(2, argv), "My");
  EXPECT_EQ(ArgumentText(4, argv), "My Product ");
}

}  // namespace
}  // namespace tandor::test
