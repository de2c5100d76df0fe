#include "core/hex.h"

#include <optional>

namespace zorvex {
namespace {

std::optional<unsigned> DigitValue(char c) {
  if (c >= '0' && c <= '9') return static_cast<unsigned>(c - '0');
  if (c >= 'A' && c <= 'F') return static_cast<unsigned>(c - 'A' + 10);
  if (c >= 'a' && c <= 'f') return static_cast<unsigned>(c - 'a' + 10);
  return std::nullopt;
}

}  // namespace

std::string EnHex(std::string_view text) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out(text.size() * 2, '\0');
  char* p = out.data();
  for (unsigned char c : text) {
    *p++ = kDigits[c >> 4];
    *p++ = kDigits[c & 15];
  }
  return out;
}

std::string DeHex(std::string_view hex) {
  std::string out;
  out.reserve((hex.size() + 1) / 2);
  for (std::size_t pos = 0; pos < hex.size(); pos += 2) {
    unsigned value = 0;
    const std::size_t end = pos + 2 < hex.size() ? pos + 2 : hex.size();
    for (std::size_t k = pos; k < end; ++k) {
      const auto digit = DigitValue(hex[k]);
      if (!digit) break;
      value = value * 16 + *digit;
    }
    out.push_back(static_cast<char>(value));
  }
  return out;
}

}  // namespace zorvex
