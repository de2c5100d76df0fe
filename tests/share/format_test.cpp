#include "share/format.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "share/key_filter.h"

namespace zorvex {
namespace {

constexpr std::int64_t kMin64 = std::numeric_limits<std::int64_t>::min();
constexpr std::int64_t kMax64 = std::numeric_limits<std::int64_t>::max();

TEST(FormatFileSizeTest, UnitsOf1024AndHalvesToEven) {
  // From 1152 on: the exact halves 1.125, 1.375, 1.005 and 1.015 go to even, then a byte above
  // and below a half.
  const std::vector<std::pair<std::int32_t, std::string>> cases = {
      {0, "0 Bytes"},          {1, "1 Bytes"},          {1023, "1023 Bytes"},
      {-1, "-1 Bytes"},        {-1024, "-1024 Bytes"},  {-5000000, "-5000000 Bytes"},
      {1024, "1 Kb"},          {1025, "1 Kb"},          {1034, "1.01 Kb"},
      {1536, "1.5 Kb"},        {1023999, "1000 Kb"},    {1018880, "995 Kb"},
      {1075, "1.05 Kb"},       {1023990, "999.99 Kb"},  {1024000, "1 Mb"},
      {1048576, "1.02 Mb"},    {1023999999, "1000 Mb"}, {1024000000, "1 Gb"},
      {1536000000, "1.5 Gb"},  {1152, "1.12 Kb"},       {1408, "1.38 Kb"},
      {1029120, "1 Mb"},       {1039360, "1.02 Mb"},    {1029120000, "1 Gb"},
      {1039360000, "1.02 Gb"}, {1153, "1.13 Kb"},       {1029121, "1.01 Mb"},
      {1029119, "1 Mb"},
  };
  for (const auto& [bytes, text] : cases)
    EXPECT_EQ(FormatFileSize(bytes), text) << bytes;
  EXPECT_EQ(FormatFileSize(std::numeric_limits<std::int32_t>::min()), "-2147483648 Bytes");
  EXPECT_EQ(FormatFileSize(std::numeric_limits<std::int32_t>::max()), "2.1 Gb");
}

TEST(ConnectionSpeedNameTest, NamesEveryIndexAndDashesOtherwise) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"0", "------"}, {"1", "56k"}, {"2", "33.6k"}, {"3", "28.8k"}, {"4", "Satellite"},
      {"5", "ISDN"},   {"6", "DSL"}, {"7", "Cable"}, {"8", "T1"},    {"9", "T3"},
  };
  for (const auto& [index, name] : cases)
    EXPECT_EQ(ConnectionSpeedName(index), name) << index;
  for (const char* index : {"", "10", "07", " 7", "7 ", "-1", "+7", "a", "T1", "7.0"})
    EXPECT_EQ(ConnectionSpeedName(index), "------") << '"' << index << '"';
}

TEST(MbHundredthsTest, RoundsEachSizeToHundredthsHalvesToEven) {
  const std::vector<std::pair<std::int64_t, std::int64_t>> cases = {
      {0, 0},         {1, 0},     {5119, 0},   {5120, 0},    {5121, 1},
      {10240, 1},     {15360, 2}, {25600, 2},  {35840, 4},   {1024000, 100},
      {1536000, 150}, {-5120, 0}, {-5121, -1}, {-15360, -2}, {-1024000, -100},
  };
  for (const auto& [bytes, hundredths] : cases)
    EXPECT_EQ(MbHundredths(bytes), hundredths) << bytes;
  EXPECT_EQ(MbHundredths(kMax64), 900719925474099);
  EXPECT_EQ(MbHundredths(kMin64), -900719925474099);
}

// Counts as text: durations never negative, hundredths in their shortest decimal form, shared
// totals in the unit they reach (102912 and 103936 are 1.005 and 1.015 Gbs; the thousandfold are
// the same in Tbs).
TEST(FormatCountTest, DurationsHundredthsAndSharedTotals) {
  using Cases = std::vector<std::pair<std::int64_t, std::string>>;
  const Cases durations = {
      {0, "00:00:00"},     {9, "00:00:09"},     {59, "00:00:59"},     {60, "00:01:00"},
      {225, "00:03:45"},   {3599, "00:59:59"},  {3600, "01:00:00"},   {3661, "01:01:01"},
      {86399, "23:59:59"}, {86400, "24:00:00"}, {359999, "99:59:59"}, {360000, "100:00:00"},
      {-1, "00:00:00"},    {-3600, "00:00:00"},
  };
  const Cases hundredths = {
      {0, "0"},      {5, "0.05"},    {50, "0.5"},       {100, "1"},
      {150, "1.5"},  {200, "2"},     {12345, "123.45"}, {100005, "1000.05"},
      {-5, "-0.05"}, {-150, "-1.5"}, {-300, "-3"},
  };
  const Cases totals = {
      {0, "0 Mbs"},
      {150, "1.5 Mbs"},
      {102399, "1023.99 Mbs"},
      {102400, "1 Gbs"},
      {153600, "1.5 Gbs"},
      {102912, "1 Gbs"},
      {103936, "1.02 Gbs"},
      {102399999, "1000 Gbs"},
      {102400000, "1 Tbs"},
      {102912000, "1 Tbs"},
      {103936000, "1.02 Tbs"},
      {204800000, "2 Tbs"},
      {-5, "-0.05 Mbs"},
      {-102400000, "-1024000 Mbs"},
  };
  for (const auto& [function, format, cases] :
       {std::tuple{"FormatDuration", &FormatDuration, &durations},
        std::tuple{"FormatHundredths", &FormatHundredths, &hundredths},
        std::tuple{"FormatSharedTotal", &FormatSharedTotal, &totals}}) {
    for (const auto& [count, text] : *cases)
      EXPECT_EQ(format(count), text) << function << "(" << count << ")";
  }
  EXPECT_EQ(FormatHundredths(kMin64), "-92233720368547758.08");
  EXPECT_EQ(FormatHundredths(kMax64), "92233720368547758.07");
}

// Stored and shown text, compared in one assertion so a failure names its line.
using Texts = std::pair<std::string, std::string>;
Texts TextsOf(const SharedTotal& total) {
  return {total.StoredText(), total.ShownText()};
}

TEST(SharedTotalTest, StartsAtZeroThenAddsAndSubtractsFileSizes) {
  SharedTotal total;
  EXPECT_EQ(total.hundredths(), 0);
  EXPECT_EQ(TextsOf(total), Texts("0", "0 Bytes"));
  total.Update(1536000, true);
  EXPECT_EQ(TextsOf(total), Texts("1.5", "1.5 Mbs"));
  total.Update(512000, true);
  EXPECT_EQ(TextsOf(total), Texts("2", "2 Mbs"));
  total.Update(1075200, true);
  EXPECT_EQ(TextsOf(total), Texts("3.05", "3.05 Mbs"));
  total.Update(1024000, false);
  EXPECT_EQ(TextsOf(total), Texts("2.05", "2.05 Mbs"));
  total.Subtract(3072000);
  EXPECT_EQ(TextsOf(total), Texts("-0.95", "-0.95 Mbs"));
  total.Add(95 * 10240);
  EXPECT_EQ(TextsOf(total), Texts("0", "0 Mbs"));
}

TEST(SharedTotalTest, RoundsEachPartBeforeAddingOrSubtracting) {
  SharedTotal halves;
  halves.Add(5120);  // 0.005 -> 0
  halves.Add(5120);
  EXPECT_EQ(TextsOf(halves), Texts("0", "0 Mbs"));

  SharedTotal odd_halves;
  odd_halves.Add(15360);  // 0.015 -> 0.02
  odd_halves.Add(15360);
  EXPECT_EQ(odd_halves.StoredText(), "0.04");  // not 0.03, the rounded sum of the bytes

  SharedTotal small;
  for (int i = 0; i < 1000; ++i)
    small.Add(1000);  // each 0.00098 -> 0
  EXPECT_EQ(small.StoredText(), "0");

  SharedTotal total;
  total.Add(1024000);
  total.Subtract(15360);  // -0.015 -> -0.02
  EXPECT_EQ(total.StoredText(), "0.98");
  total.Subtract(5120);  // -0.005 -> 0
  EXPECT_EQ(total.StoredText(), "0.98");
}

TEST(SharedTotalTest, ResetMinusOneAndTheSwitchToGbs) {
  SharedTotal total;
  total.Add(2048000);
  total.Update(-1, true);
  EXPECT_EQ(TextsOf(total), Texts("0", "2 Mbs"));
  total.Add(1024000);
  EXPECT_EQ(TextsOf(total), Texts("1", "1 Mbs"));
  total.Reset();
  EXPECT_EQ(TextsOf(total), Texts("0", "1 Mbs"));
  // Minus one only resets when adding.
  total.Add(1024000);
  total.Update(-1, false);  // removes a part of 0
  EXPECT_EQ(TextsOf(total), Texts("1", "1 Mbs"));
  total.Update(-2, true);  // an ordinary (negative) size
  EXPECT_EQ(total.StoredText(), "1");
  total.Update(-1024000, true);
  EXPECT_EQ(total.StoredText(), "0");
  // It switches to Gbs.
  total.Add(1048565760);  // 1023.99 Mb
  EXPECT_EQ(total.ShownText(), "1023.99 Mbs");
  total.Add(10240);  // 0.01 Mb
  EXPECT_EQ(TextsOf(total), Texts("1024", "1 Gbs"));
  total.Add(524288000);  // 512 Mb
  EXPECT_EQ(TextsOf(total), Texts("1536", "1.5 Gbs"));
}

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
