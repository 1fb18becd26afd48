#include "util/NormalizeVersion.h"

#include <gtest/gtest.h>

#include <algorithm>
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
        NormalizeCase{"1.0.0.210", "", "1000000000000000000000000000002100000000"},
        NormalizeCase{"2.81.1117.0", "",
                      "2000000000"
                      "8100000000"
                      "1117000000"
                      "0000000000"},
        // Without any ".", parts are split at ",".
        NormalizeCase{"1,2,3", "", "100000000020000000003000000000"},
        // "." wins over ",": the commas stay inside the parts.
        NormalizeCase{"1,2.3", "",
                      "1,20000000"
                      "3000000000"},
        // No separator at all: unchanged, however long.
        NormalizeCase{"5", "", "5"}, NormalizeCase{"12345678901234", "", "12345678901234"},
        NormalizeCase{"2004-05-06 10:11:12", "", "2004-05-06 10:11:12"}, NormalizeCase{"", "", ""},
        // A part longer than ten characters is cut after its tenth.
        NormalizeCase{"123456789012.1", "",
                      "1234567890"
                      "1000000000"},
        // Empty parts around separators still count as parts.
        NormalizeCase{"1.", "",
                      "1000000000"
                      "0000000000"},
        NormalizeCase{".5", "",
                      "0000000000"
                      "5000000000"},
        NormalizeCase{"1..2", "",
                      "1000000000"
                      "0000000000"
                      "2000000000"},
        NormalizeCase{".", "",
                      "0000000000"
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
        NormalizeCase{"2.81.1117.0", "MDAC", "28111170"},
        NormalizeCase{"2.81.1117.0", "mdac", "28111170"},
        NormalizeCase{"2.81.1117.0", "MdAc", "28111170"}, NormalizeCase{"2,81", "MDAC", "2,81"},
        NormalizeCase{"?Error", "MDAC", "?Error"}, NormalizeCase{"", "MDAC", ""},
        // Any other kind gives nothing.
        NormalizeCase{"2.81.1117.0", "DAO", ""}, NormalizeCase{"1.0", " MDAC", ""},
        NormalizeCase{"1.0", "MDAC2", ""}));

// How normalized versions rank when compared as strings, ignoring case.
int Compare(const std::string& a, const std::string& b) {
  std::string x = NormalizeVersion(a, ""), y = NormalizeVersion(b, "");
  auto lower = [](std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
    return s;
  };
  int order = lower(x).compare(lower(y));
  return order < 0 ? -1 : order > 0 ? 1 : 0;
}

TEST(NormalizeVersionOrderTest, RanksVersionsAsTheUpdaterDoes) {
  struct Case {
    const char* Left;
    const char* Right;
    int Order;
  } cases[] = {
      {"1.0.0.210", "1.0.0.211", -1},  // parts of equal length: numeric order
      {"1.00.0210", "1.00.0209", 1},
      {"9", "10", 1},      // no separator: plain text, "9" after "1"
      {"1.9", "1.10", 1},  // parts of different length compare as fractions
      {"1.1", "1.10", 0},
      {"1.0", "1.0.0", -1},  // the shorter normalized string ranks below
      {"2,5", "2.5", 0},     // both separators give the same form
      {"1.0B", "1.0b", 0},   // case is ignored
  };
  for (const Case& c : cases)
    EXPECT_EQ(Compare(c.Left, c.Right), c.Order) << c.Left << " vs " << c.Right;
}

}  // namespace
}  // namespace tandor
