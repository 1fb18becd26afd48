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
      {1, 8, "12%", 243, kFrameWidth / 8 + 15},            // 12.5 rounds down to the even 12
      {27, 200, "14%", 241, kFrameWidth * 27 / 200 + 15},  // 13.5 rounds up to the even 14
      {5, 200, "2%", 253, kFrameWidth * 5 / 200 + 15},     // 2.5 -> 2
      {7, 200, "4%", 251, kFrameWidth * 7 / 200 + 15},     // 3.5 -> 4
      {1, 3, "33%", 222, kFrameWidth / 3 + 15},
      {2, 3, "67%", 188, kFrameWidth * 2 / 3 + 15},
      {995, 1000, "100%", 155, kFrameWidth * 995 / 1000 + 15},  // 99.5 -> 100
      {994, 1000, "99%", 156, kFrameWidth * 994 / 1000 + 15},
      {10240, 3'000'000'000LL, "0%", 255, kFrameWidth * 10240 / 3e9 + 15},
      {3'000'000'000LL, 6'000'000'000LL, "50%", 205, kFrameWidth / 2 + 15},
      // Outside 0..total: held at the ends, never past the frame.
      {2000, 1000, "100%", 155, kFrameWidth + 15},
      {-5, 1000, "0%", 255, 15},
      {std::numeric_limits<std::int64_t>::max(), 1, "100%", 155, kFrameWidth + 15},
      // No total known: the kilobytes so far on a full white bar.
      {20480, -1, "20 KB", 255, kFrameWidth + 15},
      {5, -10, "0 KB", 255, kFrameWidth + 15},
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
  EXPECT_FALSE(ComputeProgressBar(4096, 0, kFrameWidth).has_value());
}

TEST(ProgressBar, HalvesRoundToEven) {
  const struct {
    double Value, Rounded;
  } cases[] = {{0.5, 0},    {1.5, 2},  {2.5, 2},      {12.5, 12},    {13.5, 14},
               {99.5, 100}, {0.49, 0}, {0.51, 1},     {-0.5, 0},     {-1.5, -2},
               {-2.5, -2},  {7, 7},    {12.4999, 12}, {12.5001, 13}, {1e15 + 0.5, 1e15}};
  for (const auto& c : cases) EXPECT_EQ(RoundHalfToEven(c.Value), c.Rounded) << c.Value;
}

TEST(ProgressBar, TwipsBecomePixels) {
  const struct {
    double Twips;
    int Pixels;
  } cases[] = {{15, 1},   {6000, 400},   {5985, 399}, {6120, 408}, {3210, 214}, {-30, -2},
               {360, 24}, {3007.5, 200}, {22.5, 2},   {7, 0},      {8, 1}};
  for (const auto& c : cases) EXPECT_EQ(TwipsToPixels(c.Twips), c.Pixels) << c.Twips;
}

}  // namespace
}  // namespace tandor
