#include "transfer/range_plan.h"

#include <gtest/gtest.h>

#include <vector>

namespace zorvex {
namespace {

using Piece = RangePlan::Piece;
constexpr std::int64_t kNone = -1;

enum class Op { kAssign, kFilled, kRelease };
struct Step {
  Op op;
  int owner;
  std::int64_t bytes;   // kFilled
  std::int64_t expect;  // kAssign: the offset or kNone; kFilled: 1 goes on, 0 done
};

struct Case {
  const char* name;
  std::int64_t size;
  std::int64_t held;
  std::vector<Step> steps;
  std::vector<Piece> pieces;
  std::int64_t prefix;
  std::int64_t held_after;
};

TEST(RangePlanTest, PiecesAreHandedOutSplitFilledAndReleased) {
  const Case cases[] = {
      {"joiners take the free rest, then halves of the largest rests",
       1'000'000,
       100'000,
       {{Op::kAssign, 1, 0, 100'000},
        {Op::kAssign, 2, 0, 550'000},
        {Op::kAssign, 3, 0, 325'000},
        {Op::kAssign, 3, 0, kNone},    // holds a piece already
        {Op::kFilled, 1, 300'000, 0},  // clamped at the cut; the next piece is owned
        {Op::kRelease, 3, 0, 0},
        {Op::kAssign, 1, 0, 325'000},  // the released piece first
        {Op::kFilled, 1, 1'000, 1},
        {Op::kRelease, 1, 0, 0}},
       {{0, 326'000, 326'000, std::nullopt},
        {326'000, 550'000, 326'000, std::nullopt},
        {550'000, 1'000'000, 550'000, 2}},
       326'000,
       326'000},
      {"an owner whose piece is full goes on into a free one behind it",
       300'000,
       0,
       {{Op::kAssign, 1, 0, 0},
        {Op::kAssign, 2, 0, 150'000},
        {Op::kRelease, 2, 0, 0},
        {Op::kFilled, 1, 150'000, 1},
        {Op::kFilled, 1, 100'000, 1},
        {Op::kFilled, 2, 100'000, 0}},  // owns nothing
       {{0, 150'000, 150'000, std::nullopt}, {150'000, 300'000, 250'000, 1}},
       250'000,
       250'000},
      {"short rests are not split",
       200'000,
       0,
       {{Op::kAssign, 1, 0, 0}, {Op::kFilled, 1, 80'000, 1}, {Op::kAssign, 2, 0, kNone}},
       {{0, 200'000, 80'000, 1}},
       80'000,
       80'000},
      {"hostile sizes are made sane", -5, 10, {{Op::kAssign, 1, 0, kNone}}, {}, 0, 0},
      {"a held start beyond the size is the whole file",
       100,
       500,
       {{Op::kFilled, 1, -7, 0}},
       {{0, 100, 100, std::nullopt}},
       100,
       100},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RangePlan plan(c.size, c.held);
    for (std::size_t i = 0; i < c.steps.size(); ++i) {
      const Step& step = c.steps[i];
      if (step.op == Op::kAssign) {
        EXPECT_EQ(plan.Assign(step.owner).value_or(kNone), step.expect) << i;
      } else if (step.op == Op::kFilled) {
        EXPECT_EQ(plan.Filled(step.owner, step.bytes), step.expect == 1) << i;
      } else {
        plan.Release(step.owner);
      }
    }
    EXPECT_EQ(plan.pieces(), c.pieces);
    EXPECT_EQ(plan.Prefix(), c.prefix);
    EXPECT_EQ(plan.Held(), c.held_after);
    EXPECT_EQ(plan.Complete(), c.prefix == plan.size());
  }
}

TEST(RangePlanTest, OpeningsCountWhatJoinersCouldStillBeHanded) {
  RangePlan plan(1'000'000, 0);
  EXPECT_EQ(plan.Openings(), 7u);  // one free piece of seven double minimum splits
  plan.Assign(1);
  EXPECT_EQ(plan.Openings(), 7u);
  plan.Filled(1, 900'000);
  EXPECT_EQ(plan.Openings(), 0u);  // 100,000 left: not worth a second source
  EXPECT_EQ(RangePlan(100'000, 0).Openings(), 1u);
  EXPECT_EQ(RangePlan(100'000, 100'000).Openings(), 0u);
}

}  // namespace
}  // namespace zorvex
