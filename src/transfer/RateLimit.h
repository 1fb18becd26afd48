#pragma once
// A cap on the bytes a second that downloads take together, shared by every connection of a
// pass and safe to use from several threads: a token bucket that starts with a quarter second's
// worth, so that a short burst passes at once while the average keeps to the rate.

#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>

namespace tandor {

class RateLimit {
 public:
  using Clock = std::chrono::steady_clock;

  explicit RateLimit(std::int64_t bytesPerSecond);

  // Takes `bytes` out of the allowance and waits until they are due, in slices of at most 25 ms
  // with `waiting` run after each (what it throws ends the wait). Takers queue behind the bytes
  // taken before them. Returns the time it waited.
  Clock::duration Await(std::int64_t bytes, const std::function<void()>& waiting);

 private:
  // Takes `bytes` out of the allowance; how long the taker must wait for them.
  Clock::duration Reserve(std::int64_t bytes);

  std::mutex mMutex;
  const double mRate;   // bytes a second
  const double mBurst;  // the most the allowance holds
  double mAllowance;    // below zero: owed by takers who wait for it
  Clock::time_point mUpdated;
};

}  // namespace tandor
