#include "transfer/rate_limiter.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/fake_runtime.h"

namespace zorvex {
namespace {

using testing::FakeRuntime;

class RateLimiterTest : public ::testing::Test {
 protected:
  void Fire() { runtime.FireTimer(0); }
  bool Armed() const { return runtime.TimerActive(0); }

  FakeRuntime runtime;
  RateLimiter limiter{runtime};
};

TEST_F(RateLimiterTest, UnlimitedLetsEverythingThroughAndWakesAtOnce) {
  EXPECT_FALSE(limiter.Limited());
  limiter.Take(1 << 30);
  EXPECT_EQ(limiter.Available(), 2147483647);
  int woken = 0;
  limiter.Wait(this, [&] { ++woken; });
  EXPECT_TRUE(Armed());
  Fire();
  EXPECT_EQ(woken, 1);
  EXPECT_FALSE(Armed());
}

// The bucket holds 100 ms at the limit's pace (at least 8 KiB) and refills by the clock.
TEST_F(RateLimiterTest, BucketFillsAtTheLimitsPace) {
  struct Case {
    std::int32_t limit;
    std::int64_t full;
    std::int64_t after_250_ms_from_empty;
  };
  for (const Case& c :
       {Case{10, 8192, 2560}, Case{2000, 204800, 204800}, Case{1000, 102400, 102400},
        Case{100, 10240, 10240}, Case{40, 8192, 8192}}) {
    limiter.SetLimit(c.limit);
    EXPECT_TRUE(limiter.Limited());
    EXPECT_EQ(limiter.Available(), c.full) << c.limit;
    limiter.Take(c.full);
    EXPECT_EQ(limiter.Available(), 0) << c.limit;
    runtime.now_ms += 250;
    EXPECT_EQ(limiter.Available(), c.after_250_ms_from_empty) << c.limit;
  }
  limiter.SetLimit(-5);
  EXPECT_FALSE(limiter.Limited());
}

TEST_F(RateLimiterTest, DebtIsPaidBeforeAnythingMoves) {
  limiter.SetLimit(10);  // 10240 bytes a second
  limiter.Take(8192 + 10240);
  runtime.now_ms += 999;
  EXPECT_EQ(limiter.Available(), 0);
  runtime.now_ms += 101;  // 1.1 s: the debt is paid and 1024 bytes are back
  EXPECT_EQ(limiter.Available(), 1024);
}

TEST_F(RateLimiterTest, WaitersAreWokenOnceInTurnAndCanBeForgotten) {
  limiter.SetLimit(10);
  limiter.Take(8192);
  std::vector<std::string> woken;
  int a = 0, b = 0, c = 0;
  limiter.Wait(&a, [&] { woken.push_back("a"); });
  limiter.Wait(&b, [&] { woken.push_back("b"); });
  limiter.Wait(&c, [&] { woken.push_back("c"); });
  limiter.Wait(&a, [&] { woken.push_back("a2"); });  // replaces the first
  limiter.Forget(&c);
  ASSERT_TRUE(Armed());
  runtime.now_ms += 400;
  Fire();
  // The turn rotates, so that no transfer always takes first.
  EXPECT_EQ(woken, (std::vector<std::string>{"a2", "b"}));
  EXPECT_FALSE(Armed());
  Fire();
  EXPECT_EQ(woken.size(), 2u);
}

}  // namespace
}  // namespace zorvex
