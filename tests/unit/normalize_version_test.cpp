#include "util/NormalizeVersion.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tandor {
namespace {

struct NormalizeCase {
  const char* Version;
  const char* Kind;
  const char* Expected;
};

class NormalizeVersionTest : public ::testing::TestWithParam<NormalizeCase> {};

TEST_P(NormalizeVersionTest, Normalizes) {
  const NormalizeCase& c = GetParam();
  EXPECT_EQ(NormalizeVersion(c.Version, c.Kind), c.Expected)
      << "version \"" << c.Version << "\" kind \"" << c.Kind << "\"";
}

INSTANTIATE_TEST_SUITE_P(
    Rules, NormalizeVersionTest,
    ::testing::Values(
        // Parts split at "." are filled with zeros on the right to ten characters.
        NormalizeCase{"1.00.0210", "", "100000000000000000000210000000"},
        // Without any ".", parts are split at ",".
        NormalizeCase{"1,2,3", "", "100000000020000000003000000000"},
        // "." wins over ",": the commas stay inside the parts.
        NormalizeCase{"1,2.3", "",
                      "1,20000000"
                      "3000000000"},
        // No separator at all: unchanged, however long.
        NormalizeCase{"12345678901234", "", "12345678901234"},
        // A part longer than ten characters is cut after its tenth.
        NormalizeCase{"123456789012.1", "",
                      "1234567890"
                      "1000000000"},
        // Empty parts around separators still count as parts.
        NormalizeCase{"1.", "",
                      "1000000000"
                      "0000000000"},
        // Letters are kept as they are; comparison ignores case later.
        NormalizeCase{"1.0b", "",
                      "1000000000"
                      "0b00000000"},
        // Characters, not bytes, are counted.
        NormalizeCase{"판.1", "",
                      "판000000000"
                      "1000000000"},
        // Data-access components: the dots removed, any case of "MDAC".
        NormalizeCase{"2.81.1117.0", "MdAc", "28111170"}, NormalizeCase{"2,81", "MDAC", "2,81"},
        // Any other kind gives nothing.
        NormalizeCase{"2.81.1117.0", "DAO", ""}));

}  // namespace
}  // namespace tandor
