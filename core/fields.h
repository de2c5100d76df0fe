#pragma once
// Reading the "|"-separated fields of messages from other nodes.

#include <charconv>
#include <optional>
#include <string_view>
#include <vector>

namespace zorvex {

// Every field between bars; a text without "|" is one field, an empty text one empty field.
std::vector<std::string_view> SplitFields(std::string_view text);

// A decimal whole number with an optional '-' and nothing else around it.
template <typename Number>
std::optional<Number> ParseDecimal(std::string_view text) {
  Number value{};
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc{} || end != text.data() + text.size()) return std::nullopt;
  return value;
}

// Blanks and tabs around a text removed.
std::string_view TrimBlanks(std::string_view text);

}  // namespace zorvex
