#pragma once
// One direction's rate limit, shared by all its transfers: a bucket filled at the limit's pace,
// from which each transfer takes the bytes it moves. Uploads take before they send; downloads
// take what they read and stop reading while the bucket is in debt.

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "core/runtime.h"

namespace zorvex {

// Limits are whole kilobytes (1024 bytes) a second; 0 is unlimited.
inline constexpr std::int32_t kMaxRateLimit = 1'000'000;

class RateLimiter {
 public:
  RateLimiter(Runtime& runtime);  // NOLINT: brace-initialised inside the transfer context
  RateLimiter(const RateLimiter&) = delete;
  RateLimiter& operator=(const RateLimiter&) = delete;

  // Values outside 0..kMaxRateLimit are taken as the nearest end.
  void SetLimit(std::int32_t kilobytes_per_second);
  bool Limited() const { return bytes_per_second_ > 0; }
  // Bytes that may move now; unlimited: a very large number.
  std::int64_t Available();
  // Counts bytes that moved; the bucket may go into debt.
  void Take(std::int64_t bytes);
  // `wake` runs once, from a timer, when the bucket holds bytes again. One wait per key: a
  // second replaces the first.
  void Wait(const void* key, std::function<void()> wake);
  void Forget(const void* key);

 private:
  void Refill();
  void Arm();
  void Fire();

  Runtime& runtime_;
  std::unique_ptr<Timer> timer_;
  std::int64_t bytes_per_second_ = 0;
  std::int64_t milli_bytes_ = 0;  // the bucket, in thousandths of a byte
  std::int64_t capacity_milli_bytes_ = 0;
  std::int64_t last_ms_ = 0;
  struct Waiter {
    const void* key;
    std::function<void()> wake;
  };
  std::vector<Waiter> waiters_;
};

}  // namespace zorvex
