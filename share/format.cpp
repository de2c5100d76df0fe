#include "share/format.h"

#include <array>

namespace zorvex {
namespace {

constexpr std::int64_t kKb = 1024;
constexpr std::int64_t kMb = 1'024'000;
constexpr std::int64_t kGb = 1'024'000'000;

// num / den rounded to the nearest whole number, halves to even; den > 0.
std::int64_t DivideHalfEven(std::int64_t num, std::int64_t den) {
  std::int64_t q = num / den;
  std::int64_t r = num % den;
  if (r < 0) {  // floor, so that 0 <= r < den
    --q;
    r += den;
  }
  if (r > den - r || (r == den - r && q % 2 != 0)) ++q;
  return q;
}

std::string TwoDigits(std::int64_t value) {
  std::string out = std::to_string(value);
  if (out.size() < 2) out.insert(0, 2 - out.size(), '0');
  return out;
}

}  // namespace

std::string FormatHundredths(std::int64_t hundredths) {
  const bool negative = hundredths < 0;
  // Work on the magnitude as unsigned so that the smallest value cannot overflow.
  const std::uint64_t magnitude = negative ? 0 - static_cast<std::uint64_t>(hundredths)
                                           : static_cast<std::uint64_t>(hundredths);
  std::string out = negative ? "-" : "";
  out += std::to_string(magnitude / 100);
  const std::uint64_t fraction = magnitude % 100;
  if (fraction != 0) {
    out.push_back('.');
    out.push_back(static_cast<char>('0' + fraction / 10));
    if (fraction % 10 != 0) out.push_back(static_cast<char>('0' + fraction % 10));
  }
  return out;
}

std::string FormatFileSize(std::int32_t bytes) {
  const std::int64_t value = bytes;
  if (value < kKb) return std::to_string(value) + " Bytes";
  if (value < kMb) return FormatHundredths(DivideHalfEven(value * 100, kKb)) + " Kb";
  if (value < kGb) return FormatHundredths(DivideHalfEven(value * 100, kMb)) + " Mb";
  return FormatHundredths(DivideHalfEven(value * 100, kGb)) + " Gb";
}

std::string FormatDuration(std::int64_t seconds) {
  if (seconds < 0) seconds = 0;
  const std::int64_t hours = seconds / 3600;
  const std::int64_t minutes = seconds / 60 % 60;
  return TwoDigits(hours) + ":" + TwoDigits(minutes) + ":" + TwoDigits(seconds % 60);
}

std::string_view ConnectionSpeedName(std::string_view index_text) {
  static constexpr std::array<std::string_view, 10> kNames = {
      "------", "56k", "33.6k", "28.8k", "Satellite", "ISDN", "DSL", "Cable", "T1", "T3"};
  if (index_text.size() == 1 && index_text[0] >= '0' && index_text[0] <= '9') {
    return kNames[static_cast<std::size_t>(index_text[0] - '0')];
  }
  return "------";
}

std::int64_t MbHundredths(std::int64_t bytes) {
  // Split off whole Mb first so that bytes * 100 can never overflow.
  std::int64_t whole = bytes / kMb;
  std::int64_t rest = bytes % kMb;
  if (rest < 0) {
    --whole;
    rest += kMb;
  }
  return whole * 100 + DivideHalfEven(rest * 100, kMb);
}

std::string FormatSharedTotal(std::int64_t total_hundredths) {
  if (total_hundredths >= kMb * 100) {
    return FormatHundredths(DivideHalfEven(total_hundredths, kMb)) + " Tbs";
  }
  if (total_hundredths >= kKb * 100) {
    return FormatHundredths(DivideHalfEven(total_hundredths, kKb)) + " Gbs";
  }
  return FormatHundredths(total_hundredths) + " Mbs";
}

void SharedTotal::Update(std::int64_t bytes, bool add) {
  if (add && bytes == -1) {
    Reset();
  } else if (add) {
    Add(bytes);
  } else {
    Subtract(bytes);
  }
}

void SharedTotal::Change(std::int64_t part) {
  hundredths_ += part;
  shown_ = FormatSharedTotal(hundredths_);
}

}  // namespace zorvex
