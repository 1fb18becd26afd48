// The progress bar's arithmetic: percentage, grey, width, and events that change nothing.

#include "ui/ProgressBar.h"

#include <gtest/gtest.h>

#include <limits>
#include <tuple>

namespace tandor {
namespace {

constexpr double kFrame = 5985;  // the bar's frame, in twips

TEST(ProgressBar, LookOfOneEvent) {
  // Halves round to even; values outside 0..total are held at the ends; no total shows KB.
  const std::tuple<std::int64_t, std::int64_t, const char*, int, double> cases[] = {
      {0, 1000, "0%", 255, 15},
      {1, 8, "12%", 243, kFrame / 8 + 15},
      {27, 200, "14%", 241, kFrame * 27 / 200 + 15},
      {995, 1000, "100%", 155, kFrame * 995 / 1000 + 15},
      {3'000'000'000LL, 6'000'000'000LL, "50%", 205, kFrame / 2 + 15},
      {std::numeric_limits<std::int64_t>::max(), 1, "100%", 155, kFrame + 15},
      {20480, -1, "20 KB", 255, kFrame + 15},
      {0, 0, nullptr, 0, 0},  // a total of 0 changes nothing
  };
  for (const auto& [current, total, text, grey, width] : cases) {
    SCOPED_TRACE(testing::Message() << current << " of " << total);
    const auto look = ComputeProgressBar(current, total, kFrame);
    ASSERT_EQ(look.has_value(), text != nullptr);
    if (!look) continue;
    EXPECT_EQ(look->Text, text);
    EXPECT_EQ(look->Percent, 255 - grey);
    EXPECT_EQ(look->Grey, grey);
    EXPECT_DOUBLE_EQ(look->WidthTwips, width);
  }
}

TEST(ProgressBar, TwipsBecomeWholePixelsHalvesToEven) {
  const std::pair<double, int> cases[] = {{7, 0}, {10, 1}, {7.5, 0}, {22.5, 2}, {-22.5, -2}};
  for (const auto& [twips, pixels] : cases) EXPECT_EQ(TwipsToPixels(twips), pixels) << twips;
}

}  // namespace
}  // namespace tandor
