#include "transfer/range_plan.h"

#include <gtest/gtest.h>

namespace zorvex {
namespace {

using Piece = RangePlan::Piece;

// Joiners take the free rest, then the back half of the largest rest; an owner stops at a cut
// that another owns and goes on into a free piece; a release keeps what was filled.
TEST(RangePlanTest, PiecesAreHandedOutSplitFilledAndReleased) {
  RangePlan plan(1'000'000, 100'000);
  EXPECT_EQ(plan.Openings(), 6u);
  EXPECT_EQ(plan.Assign(1), 100'000);
  EXPECT_EQ(plan.Assign(2), 550'000);
  EXPECT_EQ(plan.Assign(3), 325'000);
  EXPECT_EQ(plan.Assign(3), std::nullopt);  // holds a piece already
  EXPECT_FALSE(plan.Filled(1, 300'000));    // clamped at the cut, which 3 owns
  plan.Release(3);
  EXPECT_EQ(plan.Assign(1), 325'000);  // the released piece first
  EXPECT_TRUE(plan.Filled(1, 1'000));
  plan.Release(1);
  EXPECT_EQ(plan.pieces(), (std::vector<Piece>{{0, 326'000, 326'000, std::nullopt},
                                               {326'000, 550'000, 326'000, std::nullopt},
                                               {550'000, 1'000'000, 550'000, 2}}));
  EXPECT_EQ(plan.Prefix(), 326'000);
  EXPECT_TRUE(plan.Filled(2, 449'999));
  EXPECT_EQ(plan.Held(), 775'999);
  EXPECT_EQ(plan.Assign(4), 326'000);
  EXPECT_EQ(plan.Assign(5), 438'000);
  EXPECT_EQ(plan.Assign(6), std::nullopt);  // 112,000 and 1 left: too short to split
  EXPECT_FALSE(plan.Filled(4, 112'000));
  EXPECT_FALSE(plan.Filled(5, 112'000));
  EXPECT_FALSE(plan.Filled(2, 1));
  EXPECT_TRUE(plan.Complete());
  EXPECT_EQ(plan.pieces(), (std::vector<Piece>{{0, 1'000'000, 1'000'000, std::nullopt}}));

  RangePlan chain(300'000, 0);
  chain.Assign(1);
  chain.Assign(2);
  chain.Release(2);
  EXPECT_TRUE(chain.Filled(1, 150'000));
  EXPECT_EQ(chain.SlotOf(1)->at, 150'000);
  EXPECT_EQ(chain.SlotOf(1)->room, 150'000);
  // Hostile sizes are made sane.
  EXPECT_TRUE(RangePlan(-5, 10).Complete());
  EXPECT_EQ(RangePlan(100, 500).Held(), 100);
}

}  // namespace
}  // namespace zorvex
