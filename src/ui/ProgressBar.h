#pragma once
// The arithmetic of the update window's progress bar, kept free of any toolkit so that the rules
// (rounding, colour, width) can be checked without a window.

#include <cstdint>
#include <optional>
#include <string>

namespace tandor {

// Window measures are designed in twips; 15 twips make one pixel at 96 DPI.
constexpr int TwipsPerPixel = 15;

// Nearest whole pixel count of a twip measure.
int TwipsToPixels(double twips);

// What the bar shows after one progress event.
struct ProgressBarLook {
  int Percent = 0;          // 0..100
  std::string Text;         // "<Percent>%", or "<kilobytes> KB" when the total is unknown
  int Grey = 255;           // red = green = blue = 255 - Percent
  double WidthTwips = 0.0;  // frame width x current / total + 15
};

// The bar's look for `currentBytes` of `totalBytes` inside a frame `frameWidthTwips` wide.
// No value when the total is 0: such an event changes nothing on the bar. A negative total is
// unknown: the bar fills its frame, white, and shows the kilobytes so far. A current value
// outside 0..total is clamped into it, so the bar never passes 100 % or its frame.
std::optional<ProgressBarLook> ComputeProgressBar(std::int64_t currentBytes,
                                                  std::int64_t totalBytes, double frameWidthTwips);

// Rounds to the nearest integer, halves to the even neighbour (12.5 -> 12, 13.5 -> 14).
double RoundHalfToEven(double value);

}  // namespace tandor
