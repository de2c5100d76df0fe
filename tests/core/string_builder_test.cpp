#include "core/string_builder.h"

#include <gtest/gtest.h>

#include <string>

namespace zorvex {
namespace {

TEST(StringBuilderTest, JoinsPiecesInOrderAcrossGrowthAndTakingTheTextEmptiesIt) {
  StringBuilder builder;
  EXPECT_EQ(builder.GetString(), "");
  builder.SConcat("10.0.0.1|");
  builder.SConcat("");
  builder.SConcat(std::string("a\0b|", 4));
  EXPECT_EQ(builder.size(), 13u);
  EXPECT_EQ(builder.GetString(), std::string("10.0.0.1|a\0b|", 13));
  EXPECT_EQ(builder.GetString(), "");
  builder.SConcat("abc");
  builder.ReInit();
  builder.SConcat("d");
  EXPECT_EQ(builder.GetString(), "d");

  // Text across growth steps comes back whole.
  std::string big(15001, 'x');
  big.back() = 'y';
  builder.SConcat(big);
  EXPECT_EQ(builder.GetString(), big);
  std::string expected;
  for (int i = 0; i < 20000; ++i) {
    const std::string piece = std::to_string(i) + "|";
    builder.SConcat(piece);
    expected += piece;
  }
  EXPECT_EQ(builder.GetString(), expected);
}

}  // namespace
}  // namespace zorvex
