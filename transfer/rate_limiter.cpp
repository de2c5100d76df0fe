#include "transfer/rate_limiter.h"

#include <algorithm>
#include <limits>

namespace zorvex {

namespace {
// The bucket holds at most this long at the limit's pace: enough to keep a link busy between
// two timer steps, too little to matter in the long run.
constexpr std::int64_t kBurstMs = 100;
constexpr std::int64_t kMinBurstBytes = 8 * 1024;
// Waiters are woken once at least this much (or the whole bucket) is there.
constexpr std::int64_t kWakeBytes = 4 * 1024;
}  // namespace

RateLimiter::RateLimiter(Runtime& runtime)
    : runtime_(runtime), timer_(runtime.CreateTimer(TimerKind::kSingleShot, [this] { Fire(); })) {}

void RateLimiter::SetLimit(std::int32_t kilobytes_per_second) {
  const std::int64_t limit = std::clamp<std::int64_t>(kilobytes_per_second, 0, kMaxRateLimit);
  bytes_per_second_ = limit * 1024;
  capacity_milli_bytes_ =
      std::max(bytes_per_second_ * kBurstMs / 1000, kMinBurstBytes) * std::int64_t{1000};
  milli_bytes_ = capacity_milli_bytes_;
  last_ms_ = runtime_.NowMs();
  if (!Limited() && !waiters_.empty()) Arm();
}

void RateLimiter::Refill() {
  const std::int64_t now = runtime_.NowMs();
  const std::int64_t elapsed = std::max<std::int64_t>(now - last_ms_, 0);
  last_ms_ = now;
  // A bytes-per-second rate times milliseconds is thousandths of bytes.
  milli_bytes_ =
      std::min(milli_bytes_ + std::min<std::int64_t>(elapsed, 60'000) * bytes_per_second_,
               capacity_milli_bytes_);
}

std::int64_t RateLimiter::Available() {
  if (!Limited()) return std::numeric_limits<std::int32_t>::max();
  Refill();
  return std::max<std::int64_t>(milli_bytes_ / 1000, 0);
}

void RateLimiter::Take(std::int64_t bytes) {
  if (!Limited() || bytes <= 0) return;
  Refill();
  milli_bytes_ -= bytes * 1000;
}

void RateLimiter::Wait(const void* key, std::function<void()> wake) {
  Forget(key);
  waiters_.push_back({key, std::move(wake)});
  Arm();
}

void RateLimiter::Forget(const void* key) {
  std::erase_if(waiters_, [key](const Waiter& waiter) { return waiter.key == key; });
}

void RateLimiter::Arm() {
  if (waiters_.empty() || timer_->IsActive()) return;
  if (!Limited()) {
    timer_->Start(0);
    return;
  }
  Refill();
  const std::int64_t want =
      std::min(kWakeBytes * 1000, capacity_milli_bytes_) - milli_bytes_;  // thousandths
  const std::int64_t ms = want <= 0 ? 0 : (want + bytes_per_second_ - 1) / bytes_per_second_;
  timer_->Start(std::max<std::int64_t>(ms, 1));
}

void RateLimiter::Fire() {
  timer_->Stop();
  // Woken in turn; whoever is woken first takes first, so the order rotates.
  std::vector<Waiter> woken;
  woken.swap(waiters_);
  if (woken.size() > 1) std::rotate(woken.begin(), woken.begin() + 1, woken.end());
  for (auto& waiter : woken) {
    if (waiter.wake) waiter.wake();
  }
  Arm();
}

}  // namespace zorvex
