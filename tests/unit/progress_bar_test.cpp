// The progress bar's arithmetic: percentage, grey, width, and events that change nothing.

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

#include "sync/ProgressBar.h"

namespace tandor {
namespace {

constexpr double kFrameWidth = 5985;  // the bar's frame, in twips

struct BarCase {
  std::int64_t Current;
  std::int64_t Total;
  const char* Text;
  int Grey;
  double WidthTwips;
};

TEST(ProgressBar, LookOfOneEvent) {
  const BarCase cases[] = {
      {0, 1000, "0%", 255, 15},
      {1000, 1000, "100%", 155, kFrameWidth + 15},
      {1, 8, "12%", 243, kFrameWidth / 8 + 15},                 // 12.5 rounds down to the even 12
      {27, 200, "14%", 241, kFrameWidth * 27 / 200 + 15},       // 13.5 rounds up to the even 14
      {995, 1000, "100%", 155, kFrameWidth * 995 / 1000 + 15},  // 99.5 -> 100
      {3'000'000'000LL, 6'000'000'000LL, "50%", 205, kFrameWidth / 2 + 15},
      // Outside 0..total: held at the ends, never past the frame.
      {2000, 1000, "100%", 155, kFrameWidth + 15},
      {std::numeric_limits<std::int64_t>::max(), 1, "100%", 155, kFrameWidth + 15},
      // No total known: the kilobytes so far on a full white bar.
      {20480, -1, "20 KB", 255, kFrameWidth + 15},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.Current << " of " << c.Total);
    auto look = ComputeProgressBar(c.Current, c.Total, kFrameWidth);
    ASSERT_TRUE(look.has_value());
    EXPECT_EQ(look->Text, c.Text);
    EXPECT_EQ(look->Percent, 255 - c.Grey);
    EXPECT_EQ(look->Grey, c.Grey);
    EXPECT_DOUBLE_EQ(look->WidthTwips, c.WidthTwips);
  }
}

TEST(ProgressBar, TotalZeroChangesNothing) {
  EXPECT_FALSE(ComputeProgressBar(0, 0, kFrameWidth).has_value());
}

TEST(ProgressBar, HalvesRoundToEven) {
  const struct { double Value, Rounded; } cases[] = {{0.5, 0}, {1.5, 2}, {-1.5, -2}, {12.5001, 13}};
  for (const auto& c : cases) EXPECT_EQ(RoundHalfToEven(c.Value), c.Rounded) << c.Value;
}

TEST(ProgressBar, TwipsBecomePixels) {
  const struct {
    double Twips;
    int Pixels;
  } cases[] = {{15, 1}, {-30, -2}, {22.5, 2}, {7, 0}};
  for (const auto& c : cases) EXPECT_EQ(TwipsToPixels(c.Twips), c.Pixels) << c.Twips;
}

}  // namespace
}  // namespace tandor
