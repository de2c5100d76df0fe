#include "core/address.h"

namespace zorvex {
namespace {

char Lower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// The four numbers of a dotted address, when `text` is one.
bool ParseDotted(std::string_view text, int (&octets)[4]) {
  int parts = 0;
  std::size_t pos = 0;
  while (true) {
    const std::size_t start = pos;
    int value = 0;
    while (pos < text.size() && pos - start < 3 && text[pos] >= '0' && text[pos] <= '9') {
      value = value * 10 + (text[pos] - '0');
      ++pos;
    }
    const std::size_t digits = pos - start;
    if (digits == 0 || value > 255 || (digits > 1 && text[start] == '0')) return false;
    octets[parts++] = value;
    if (pos == text.size()) return parts == 4;
    if (text[pos] != '.' || parts == 4) return false;
    ++pos;
  }
}

}  // namespace

bool IsDottedIPv4(std::string_view text) {
  int octets[4];
  return ParseDotted(text, octets);
}

bool IsHostAddress(std::string_view text) {
  int octets[4];
  if (!ParseDotted(text, octets)) return false;
  const bool broadcast =
      octets[0] == 255 && octets[1] == 255 && octets[2] == 255 && octets[3] == 255;
  return octets[0] != 0 && (octets[0] < 224 || octets[0] > 239) && !broadcast;
}

bool SameText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (Lower(a[i]) != Lower(b[i])) return false;
  }
  return true;
}

std::string LowerCase(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    c = Lower(c);
  return out;
}

bool StartsWithText(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && SameText(text.substr(0, prefix.size()), prefix);
}

}  // namespace zorvex
