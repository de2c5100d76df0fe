#pragma once
// Display texts for sizes, durations, connection speeds and the shared total. Numbers are rounded
// to two decimals with halves to even, in exact integer arithmetic, and written in their
// shortest form ("1.5", "2", never "2.00").

#include <cstdint>
#include <string>
#include <string_view>

namespace zorvex {

// "N Bytes" below 1024 (negatives too), else Kb (/1024), Mb (/1,024,000) or Gb (/1,024,000,000).
std::string FormatFileSize(std::int32_t bytes);

// "HH:MM:SS"; hours take more digits past 99. Negative durations read as 0.
std::string FormatDuration(std::int64_t seconds);

// The name of a speed index given as text; only the exact texts "0" to "9" name a speed.
std::string_view ConnectionSpeedName(std::string_view index_text);

// A count of hundredths written in shortest decimal form: 150 -> "1.5", -5 -> "-0.05".
std::string FormatHundredths(std::int64_t hundredths);

// bytes / 1,024,000 rounded to hundredths, halves to even.
std::int64_t MbHundredths(std::int64_t bytes);

// The shown text of a total held in hundredths of a Mb: " Tbs" from 1,024,000 Mb, " Gbs" from
// 1024 Mb, else " Mbs".
std::string FormatSharedTotal(std::int64_t total_hundredths);

// Running total of shared data in units of 1,024,000 bytes, held exactly in hundredths.
class SharedTotal {
 public:
  // Adds (add true) or subtracts a file's size; bytes -1 with add true resets instead.
  void Update(std::int64_t bytes, bool add);
  void Add(std::int64_t bytes) { Change(MbHundredths(bytes)); }
  void Subtract(std::int64_t bytes) { Change(-MbHundredths(bytes)); }
  // The total becomes 0; the shown text stays until the next change.
  void Reset() { hundredths_ = 0; }

  std::int64_t hundredths() const { return hundredths_; }
  // The total as the decimal text the label keeps in its tag.
  std::string StoredText() const { return FormatHundredths(hundredths_); }
  const std::string& ShownText() const { return shown_; }

 private:
  void Change(std::int64_t part);

  std::int64_t hundredths_ = 0;
  std::string shown_ = "0 Bytes";
};

}  // namespace zorvex
