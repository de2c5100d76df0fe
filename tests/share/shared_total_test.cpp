#include "share/format.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <utility>
#include <vector>

namespace zorvex {
namespace {

TEST(MbHundredthsTest, RoundsEachSizeToHundredthsHalvesToEven) {
  const std::vector<std::pair<std::int64_t, std::int64_t>> cases = {
      {0, 0},
      {1, 0},
      {5119, 0},
      {5120, 0},
      {5121, 1},
      {10240, 1},
      {15360, 2},
      {25600, 2},
      {35840, 4},
      {1024000, 100},
      {1536000, 150},
      {-5120, 0},
      {-5121, -1},
      {-15360, -2},
      {-1024000, -100},
      {std::numeric_limits<std::int64_t>::max(), 900719925474099},
      {std::numeric_limits<std::int64_t>::min(), -900719925474099},
  };
  for (const auto& [bytes, hundredths] : cases)
    EXPECT_EQ(MbHundredths(bytes), hundredths) << bytes;
}

TEST(FormatSharedTotalTest, UnitThresholds) {
  const std::vector<std::pair<std::int64_t, std::string>> cases = {
      {0, "0 Mbs"},
      {150, "1.5 Mbs"},
      {102399, "1023.99 Mbs"},
      {102400, "1 Gbs"},
      {153600, "1.5 Gbs"},
      {102912, "1 Gbs"},     // 1.005 Gbs
      {103936, "1.02 Gbs"},  // 1.015 Gbs
      {102399999, "1000 Gbs"},
      {102400000, "1 Tbs"},
      {102912000, "1 Tbs"},     // 1.005 Tbs
      {103936000, "1.02 Tbs"},  // 1.015 Tbs
      {204800000, "2 Tbs"},
      {-5, "-0.05 Mbs"},
      {-102400000, "-1024000 Mbs"},
  };
  for (const auto& [total, text] : cases)
    EXPECT_EQ(FormatSharedTotal(total), text) << total;
}

TEST(SharedTotalTest, StartsAtZeroThenAddsAndSubtractsFileSizes) {
  SharedTotal total;
  EXPECT_EQ(total.hundredths(), 0);
  EXPECT_EQ(total.StoredText(), "0");
  EXPECT_EQ(total.ShownText(), "0 Bytes");
  total.Update(1536000, true);
  EXPECT_EQ(total.StoredText(), "1.5");
  EXPECT_EQ(total.ShownText(), "1.5 Mbs");
  total.Update(512000, true);
  EXPECT_EQ(total.StoredText(), "2");
  EXPECT_EQ(total.ShownText(), "2 Mbs");
  total.Update(1075200, true);
  EXPECT_EQ(total.StoredText(), "3.05");
  EXPECT_EQ(total.ShownText(), "3.05 Mbs");
  total.Update(1024000, false);
  EXPECT_EQ(total.StoredText(), "2.05");
  EXPECT_EQ(total.ShownText(), "2.05 Mbs");
  total.Subtract(3072000);
  EXPECT_EQ(total.StoredText(), "-0.95");
  EXPECT_EQ(total.ShownText(), "-0.95 Mbs");
  total.Add(95 * 10240);
  EXPECT_EQ(total.StoredText(), "0");
  EXPECT_EQ(total.ShownText(), "0 Mbs");
}

TEST(SharedTotalTest, RoundsEachPartBeforeAdding) {
  SharedTotal halves;
  halves.Add(5120);  // 0.005 -> 0
  halves.Add(5120);
  EXPECT_EQ(halves.StoredText(), "0");
  EXPECT_EQ(halves.ShownText(), "0 Mbs");

  SharedTotal odd_halves;
  odd_halves.Add(15360);  // 0.015 -> 0.02
  odd_halves.Add(15360);
  EXPECT_EQ(odd_halves.StoredText(), "0.04");  // not 0.03, the rounded sum of the bytes

  SharedTotal small;
  for (int i = 0; i < 1000; ++i)
    small.Add(1000);  // each 0.00098 -> 0
  EXPECT_EQ(small.StoredText(), "0");
}

TEST(SharedTotalTest, SubtractingMirrorsAdding) {
  SharedTotal total;
  total.Add(1024000);
  total.Subtract(15360);  // -0.015 -> -0.02
  EXPECT_EQ(total.StoredText(), "0.98");
  total.Subtract(5120);  // -0.005 -> 0
  EXPECT_EQ(total.StoredText(), "0.98");
}

TEST(SharedTotalTest, ResetKeepsTheShownTextUntilTheNextChange) {
  SharedTotal total;
  total.Add(2048000);
  total.Update(-1, true);
  EXPECT_EQ(total.StoredText(), "0");
  EXPECT_EQ(total.ShownText(), "2 Mbs");
  total.Add(1024000);
  EXPECT_EQ(total.StoredText(), "1");
  EXPECT_EQ(total.ShownText(), "1 Mbs");
  total.Reset();
  EXPECT_EQ(total.StoredText(), "0");
  EXPECT_EQ(total.ShownText(), "1 Mbs");
}

TEST(SharedTotalTest, MinusOneOnlyResetsWhenAdding) {
  SharedTotal total;
  total.Add(1024000);
  total.Update(-1, false);  // removes a part of 0
  EXPECT_EQ(total.StoredText(), "1");
  EXPECT_EQ(total.ShownText(), "1 Mbs");
  total.Update(-2, true);  // an ordinary (negative) size
  EXPECT_EQ(total.StoredText(), "1");
  total.Update(-1024000, true);
  EXPECT_EQ(total.StoredText(), "0");
}

TEST(SharedTotalTest, SwitchesToGbs) {
  SharedTotal total;
  total.Add(1048565760);  // 1023.99 Mb
  EXPECT_EQ(total.ShownText(), "1023.99 Mbs");
  total.Add(10240);  // 0.01 Mb
  EXPECT_EQ(total.StoredText(), "1024");
  EXPECT_EQ(total.ShownText(), "1 Gbs");
  total.Add(524288000);  // 512 Mb
  EXPECT_EQ(total.StoredText(), "1536");
  EXPECT_EQ(total.ShownText(), "1.5 Gbs");
}

}  // namespace
}  // namespace zorvex
