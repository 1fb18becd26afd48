#include "ui/ProgressBar.h"

#include <algorithm>
#include <cmath>

namespace tandor {

double RoundHalfToEven(double value) {
  // Written out rather than left to the floating-point rounding mode, which a library could
  // have changed.
  const double lower = std::floor(value);
  const double diff = value - lower;
  if (diff < 0.5) return lower;
  if (diff > 0.5) return lower + 1.0;
  return std::fmod(lower, 2.0) == 0.0 ? lower : lower + 1.0;
}

int TwipsToPixels(double twips) {
  return static_cast<int>(RoundHalfToEven(twips / TwipsPerPixel));
}

std::optional<ProgressBarLook> ComputeProgressBar(std::int64_t currentBytes,
                                                  std::int64_t totalBytes, double frameWidthTwips) {
  if (totalBytes == 0) return std::nullopt;
  if (totalBytes < 0) {
    // A reply that announced no length: the bytes so far, on a bar with no end to show.
    ProgressBarLook look;
    look.Text = std::to_string(std::max<std::int64_t>(currentBytes, 0) / 1024) + " KB";
    look.WidthTwips = frameWidthTwips + TwipsPerPixel;
    return look;
  }
  double fraction = static_cast<double>(currentBytes) / static_cast<double>(totalBytes);
  fraction = std::clamp(fraction, 0.0, 1.0);
  ProgressBarLook look;
  // The percentage is formed as current x 100 / total, exactly as the bar always has, so that
  // a half such as 1 of 8 (12.5) rounds the same way.
  const double percent = std::clamp(
      static_cast<double>(currentBytes) * 100.0 / static_cast<double>(totalBytes), 0.0, 100.0);
  look.Percent = static_cast<int>(RoundHalfToEven(percent));
  look.Text = std::to_string(look.Percent) + "%";
  look.Grey = 255 - look.Percent;
  look.WidthTwips = frameWidthTwips * fraction + TwipsPerPixel;
  return look;
}

}  // namespace tandor
