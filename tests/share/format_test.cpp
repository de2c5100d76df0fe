#include "share/format.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <utility>
#include <vector>

namespace zorvex {
namespace {

TEST(FormatFileSizeTest, UnitsOf1024AndHalvesToEven) {
  const std::vector<std::pair<std::int32_t, std::string>> cases = {
      {0, "0 Bytes"},
      {1, "1 Bytes"},
      {1023, "1023 Bytes"},
      {-1, "-1 Bytes"},
      {-1024, "-1024 Bytes"},
      {-5000000, "-5000000 Bytes"},
      {std::numeric_limits<std::int32_t>::min(), "-2147483648 Bytes"},
      {1024, "1 Kb"},
      {1025, "1 Kb"},
      {1034, "1.01 Kb"},
      {1536, "1.5 Kb"},
      {1023999, "1000 Kb"},
      {1018880, "995 Kb"},
      {1075, "1.05 Kb"},
      {1023990, "999.99 Kb"},
      {1024000, "1 Mb"},
      {1048576, "1.02 Mb"},
      {1023999999, "1000 Mb"},
      {1024000000, "1 Gb"},
      {1536000000, "1.5 Gb"},
      {std::numeric_limits<std::int32_t>::max(), "2.1 Gb"},
      {1152, "1.12 Kb"},        // 1.125
      {1408, "1.38 Kb"},        // 1.375
      {1029120, "1 Mb"},        // 1.005
      {1039360, "1.02 Mb"},     // 1.015
      {1029120000, "1 Gb"},     // 1.005
      {1039360000, "1.02 Gb"},  // 1.015
      {1153, "1.13 Kb"},        // just above a half
      {1029121, "1.01 Mb"},     // just above a half
      {1029119, "1 Mb"},        // just below a half
  };
  for (const auto& [bytes, text] : cases)
    EXPECT_EQ(FormatFileSize(bytes), text) << bytes;
}

TEST(FormatDurationTest, HoursMinutesSecondsNeverNegative) {
  const std::vector<std::pair<std::int64_t, std::string>> cases = {
      {0, "00:00:00"},     {9, "00:00:09"},     {59, "00:00:59"},     {60, "00:01:00"},
      {225, "00:03:45"},   {3599, "00:59:59"},  {3600, "01:00:00"},   {3661, "01:01:01"},
      {86399, "23:59:59"}, {86400, "24:00:00"}, {359999, "99:59:59"}, {360000, "100:00:00"},
      {-1, "00:00:00"},    {-3600, "00:00:00"},
  };
  for (const auto& [seconds, text] : cases)
    EXPECT_EQ(FormatDuration(seconds), text) << seconds;
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

TEST(FormatHundredthsTest, ShortestDecimalForm) {
  const std::vector<std::pair<std::int64_t, std::string>> cases = {
      {0, "0"},
      {5, "0.05"},
      {50, "0.5"},
      {100, "1"},
      {150, "1.5"},
      {200, "2"},
      {12345, "123.45"},
      {100005, "1000.05"},
      {-5, "-0.05"},
      {-150, "-1.5"},
      {-300, "-3"},
      {std::numeric_limits<std::int64_t>::min(), "-92233720368547758.08"},
      {std::numeric_limits<std::int64_t>::max(), "92233720368547758.07"},
  };
  for (const auto& [hundredths, text] : cases)
    EXPECT_EQ(FormatHundredths(hundredths), text);
}

}  // namespace
}  // namespace zorvex
