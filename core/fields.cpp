#include "core/fields.h"

namespace zorvex {

std::vector<std::string_view> SplitFields(std::string_view text) {
  std::vector<std::string_view> fields;
  while (true) {
    const auto bar = text.find('|');
    fields.push_back(text.substr(0, bar));
    if (bar == std::string_view::npos) return fields;
    text.remove_prefix(bar + 1);
  }
}

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
    text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
    text.remove_suffix(1);
  return text;
}

}  // namespace zorvex
