#include "core/hex.h"

#include <gtest/gtest.h>

#include <string>

namespace zorvex {
namespace {

TEST(HexTest, EnHexWritesTwoUpperCaseDigitsPerByte) {
  EXPECT_EQ(EnHex(""), "");
  EXPECT_EQ(EnHex("abc"), "616263");
  EXPECT_EQ(EnHex("\x0a"), "0A");
  EXPECT_EQ(EnHex("\xff"), "FF");
  EXPECT_EQ(EnHex(std::string("\0\x7f", 2)), "007F");
}

TEST(HexTest, DeHexReadsEitherCaseAndALoneLastDigit) {
  EXPECT_EQ(DeHex(""), "");
  EXPECT_EQ(DeHex("6a6B"), "jk");
  EXPECT_EQ(DeHex("616"), std::string("a\x06"));
  EXPECT_EQ(DeHex("00FF"), std::string("\0\xff", 2));
}

TEST(HexTest, DeHexTakesTheValidLeadingDigitsOfABadPair) {
  EXPECT_EQ(DeHex("6Z"), "\x06");
  EXPECT_EQ(DeHex("Z6"), std::string(1, '\0'));
  EXPECT_EQ(DeHex("zz41"), std::string("\0A", 2));
  EXPECT_EQ(DeHex("G"), std::string(1, '\0'));
}

TEST(HexTest, RoundTripsEveryByteValue) {
  std::string all;
  for (int b = 0; b < 256; ++b)
    all.push_back(static_cast<char>(b));
  EXPECT_EQ(DeHex(EnHex(all)), all);
}

}  // namespace
}  // namespace zorvex
