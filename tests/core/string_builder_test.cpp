#include "core/string_builder.h"

#include <gtest/gtest.h>

#include <string>

namespace zorvex {
namespace {

TEST(StringBuilderTest, JoinsPiecesInOrder) {
  StringBuilder builder;
  EXPECT_EQ(builder.GetString(), "");
  builder.SConcat("10.0.0.1|");
  builder.SConcat("");
  builder.SConcat("10.0.0.2|");
  EXPECT_EQ(builder.size(), 18u);
  EXPECT_EQ(builder.GetString(), "10.0.0.1|10.0.0.2|");
  EXPECT_EQ(builder.GetString(), "");
}

TEST(StringBuilderTest, TextLongerThanOneGrowthStepComesBackWhole) {
  StringBuilder builder;
  std::string big(15001, 'x');
  big.back() = 'y';
  builder.SConcat(big);
  EXPECT_EQ(builder.GetString(), big);
}

TEST(StringBuilderTest, ManySmallPiecesAcrossGrowthSteps) {
  StringBuilder builder;
  std::string expected;
  for (int i = 0; i < 20000; ++i) {
    const std::string piece = std::to_string(i) + "|";
    builder.SConcat(piece);
    expected += piece;
  }
  EXPECT_EQ(builder.GetString(), expected);
}

TEST(StringBuilderTest, ReInitDiscardsTheText) {
  StringBuilder builder;
  builder.SConcat("abc");
  builder.ReInit();
  builder.SConcat("d");
  EXPECT_EQ(builder.GetString(), "d");
}

TEST(StringBuilderTest, KeepsNulBytes) {
  StringBuilder builder;
  builder.SConcat(std::string("a\0b", 3));
  EXPECT_EQ(builder.GetString(), std::string("a\0b", 3));
}

}  // namespace
}  // namespace zorvex
