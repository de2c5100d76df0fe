#include "share/key_filter.h"

#include <gtest/gtest.h>

#include <vector>

namespace zorvex {
namespace {

TEST(NumericKeyFilterTest, DigitsBackspaceAndOneAllowedDecimalPoint) {
  for (int key = '0'; key <= '9'; ++key) {
    EXPECT_EQ(NumericKeyFilter("", key, false), key);
    EXPECT_EQ(NumericKeyFilter("12.5", key, true), key);
  }
  EXPECT_EQ(NumericKeyFilter("123", kBackspaceKey, false), 8);
  EXPECT_EQ(NumericKeyFilter("1.5", kBackspaceKey, true), 8);
  EXPECT_EQ(NumericKeyFilter("12", '.', true), '.');
  EXPECT_EQ(NumericKeyFilter("", '.', true), '.');
  EXPECT_EQ(NumericKeyFilter("1.2", '.', true), 0);
  EXPECT_EQ(NumericKeyFilter("12", '.', false), 0);
  for (int key : std::vector<int>{0,   1,   7,   9,   13,  27,  ' ', '-', '+', ',',
                                  '/', ':', 'a', 'Z', 'e', 127, 255, 256, -1,  48 + 256}) {
    EXPECT_EQ(NumericKeyFilter("1", key, true), 0) << key;
  }
}

static_assert(NumericKeyFilter("", '5', false) == '5');
static_assert(NumericKeyFilter("", 'x', false) == 0);

}  // namespace
}  // namespace zorvex
