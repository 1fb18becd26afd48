#include "app/Role.h"

#include <gtest/gtest.h>

namespace tandor::test {
namespace {

TEST(DecideRole, Table) {
  struct Case {
    const char* argument;
    const char* baseName;
    const char* internalName;
    Role expected;
  } cases[] = {
      {"", "Tandor", "Tandor", Role::None},
      {"$Version", "Tandor", "Tandor", Role::Publisher},
      {"$version", "anything", "", Role::Publisher},
      {"$VERSION", "TandorSample", "Tandor", Role::Publisher},
      {"$NET", "Tandor", "Tandor", Role::AddressDisplay},
      {"$net", "Tandor", "Tandor", Role::AddressDisplay},
      {"Sample", "Tandor", "Tandor", Role::Launcher},
      {"Sample", "TANDOR", "Tandor", Role::Launcher},
      {"Sample", "TandorSample", "Tandor", Role::WorkingCopy},
      {"sample", "TandorSAMPLE", "Tandor", Role::WorkingCopy},
      {"Other", "TandorSample", "Tandor", Role::Damaged},
      {"Sample", "TandorOld", "Tandor", Role::Damaged},
      {"Old", "TandorOld", "Tandor", Role::WorkingCopy},
      {"Sample", "Sample", "", Role::WorkingCopy},  // no version resource
      {"Sample", "Tandor", "", Role::Damaged},
      {"$Version x", "Tandor", "Tandor", Role::Launcher},
  };
  for (const Case& c : cases)
    EXPECT_EQ(DecideRole(c.argument, c.baseName, c.internalName), c.expected)
        << c.argument << " / " << c.baseName;
}

TEST(ArgumentText, JoinsArgumentsWithOneBlank) {
  const char* none[] = {"Tandor"};
  const char* one[] = {"Tandor", "Sample"};
  const char* three[] = {"Tandor", "My", "Product", ""};
  EXPECT_EQ(ArgumentText(1, none), "");
  EXPECT_EQ(ArgumentText(2, one), "Sample");
  EXPECT_EQ(ArgumentText(4, three), "My Product ");
}

}  // namespace
}  // namespace tandor::test
