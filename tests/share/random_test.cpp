#include "core/random.h"

#include <gtest/gtest.h>

#include <cmath>
#include <set>

#include "support/fake_runtime.h"

namespace zorvex {
namespace {

const double kJustBelowOne = std::nextafter(1.0, 0.0);

TEST(RandomInRangeTest, FloorOfTheScaledDrawPlusLow) {
  testing::FakeRuntime random;  // hands out the draws in turn
  random.draws = {0.0, kJustBelowOne, 0.5, 0.001, 0.05, kJustBelowOne, 0.5};
  EXPECT_EQ(RandomInRange(999, 1, random), 1);
  EXPECT_EQ(RandomInRange(999, 1, random), 999);
  EXPECT_EQ(RandomInRange(999, 1, random), 500);  // 499.5 + 1
  EXPECT_EQ(RandomInRange(999, 1, random), 1);    // 0.999 + 1
  EXPECT_EQ(RandomInRange(10, -5, random), -5);   // -4.5: the floor below zero
  EXPECT_EQ(RandomInRange(10, -5, random), 4);
  EXPECT_EQ(RandomInRange(0, 7, random), 7);
}

TEST(SeededRandomTest, SameSeedSameSequenceInUnitIntervalCoveringSearchNumbers) {
  SeededRandom a(42);
  SeededRandom b(42);
  SeededRandom c(43);
  bool differs = false;
  for (int i = 0; i < 1000; ++i) {
    const double x = a.Uniform();
    EXPECT_GE(x, 0.0);
    EXPECT_LT(x, 1.0);
    EXPECT_EQ(x, b.Uniform());
    if (x != c.Uniform()) differs = true;
  }
  EXPECT_TRUE(differs);
  // Search numbers cover the whole range.
  SeededRandom random(7);
  std::set<int> seen;
  for (int i = 0; i < 20000; ++i) {
    const int n = RandomInRange(999, 1, random);
    ASSERT_GE(n, 1);
    ASSERT_LE(n, 999);
    seen.insert(n);
  }
  EXPECT_EQ(seen.size(), 999u);
}

}  // namespace
}  // namespace zorvex
