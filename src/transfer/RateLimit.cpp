#include "transfer/RateLimit.h"

#include <algorithm>
#include <thread>

namespace tandor {

namespace {

// Short enough for the window to stay responsive, and EXIT to act, while a download waits.
constexpr auto kSlice = std::chrono::milliseconds(25);

}  // namespace

RateLimit::RateLimit(std::int64_t bytesPerSecond)
    : mRate(static_cast<double>(std::max<std::int64_t>(1, bytesPerSecond))),
      mBurst(mRate / 4),
      mAllowance(mBurst),
      mUpdated(Clock::now()) {}

RateLimit::Clock::duration RateLimit::Reserve(std::int64_t bytes) {
  std::lock_guard lock(mMutex);
  const Clock::time_point now = Clock::now();
  const double elapsed = std::chrono::duration<double>(now - mUpdated).count();
  mAllowance = std::min(mBurst, mAllowance + mRate * elapsed) - static_cast<double>(bytes);
  mUpdated = now;
  if (mAllowance >= 0) return Clock::duration::zero();
  return std::chrono::duration_cast<Clock::duration>(
      std::chrono::duration<double>(-mAllowance / mRate));
}

RateLimit::Clock::duration RateLimit::Await(std::int64_t bytes,
                                            const std::function<void()>& waiting) {
  const Clock::time_point start = Clock::now();
  const Clock::time_point due = start + Reserve(bytes);
  for (Clock::time_point now = start; now < due; now = Clock::now()) {
    std::this_thread::sleep_for(std::min<Clock::duration>(due - now, kSlice));
    if (waiting) waiting();
  }
  return Clock::now() - start;
}

}  // namespace tandor
