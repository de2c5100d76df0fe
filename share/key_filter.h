#pragma once
// Key filter for numeric entry fields.

#include <string_view>

namespace zorvex {

inline constexpr int kBackspaceKey = 8;

// The key code when the key may reach the box, 0 when it is discarded: digits and backspace
// pass; '.' passes only when a decimal point is allowed and the box holds none yet.
constexpr int NumericKeyFilter(std::string_view box_text, int key_code, bool allow_decimal_point) {
  if (key_code >= '0' && key_code <= '9') return key_code;
  if (key_code == kBackspaceKey) return key_code;
  if (key_code == '.' && allow_decimal_point && box_text.find('.') == std::string_view::npos) {
    return key_code;
  }
  return 0;
}

}  // namespace zorvex
