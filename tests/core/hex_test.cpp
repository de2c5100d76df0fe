#include "core/hex.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace zorvex {
namespace {

using namespace std::string_literals;

struct HexCase {
  std::string bytes;
  std::string hex;
};

// EnHex writes two upper-case digits per byte; DeHex takes either case, a lone last digit, and
// the valid leading digits of a bad pair.
TEST(HexTest, EnHexWritesUpperCaseDeHexReadsWhatItCan) {
  const HexCase cases[] = {
      {"", ""}, {"abc", "616263"}, {"\x0a", "0A"}, {"\xff", "FF"}, {"\0\x7f"s, "007F"}};
  for (const HexCase& c : cases)
    EXPECT_EQ(EnHex(c.bytes), c.hex) << c.hex;
  const HexCase read[] = {{"", ""},       {"jk", "6a6B"}, {"a\x06", "616"}, {"\0\xff"s, "00FF"},
                          {"\x06", "6Z"}, {"\0"s, "Z6"},  {"\0A"s, "zz41"}, {"\0"s, "G"}};
  for (const HexCase& c : read)
    EXPECT_EQ(DeHex(c.hex), c.bytes) << c.hex;
  std::string all;
  for (int b = 0; b < 256; ++b)
    all.push_back(static_cast<char>(b));
  EXPECT_EQ(DeHex(EnHex(all)), all);
}

}  // namespace
}  // namespace zorvex
