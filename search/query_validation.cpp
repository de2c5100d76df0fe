#include "search/query_validation.h"

#include <cstddef>
#include <string>

#include "search/query_match.h"

namespace zorvex {

std::optional<SearchQueryRefusal> ValidateSearchQuery(std::string_view text, bool has_neighbours) {
  if (!has_neighbours) return SearchQueryRefusal{kNotConnectedText, "Error", PromptIcon::kCritical};

  std::string cleaned;
  cleaned.reserve(text.size());
  for (const char c : text) {
    if (c == '*' || c == '#') continue;
    if (c == '?') {
      cleaned.push_back(' ');
    } else if (c >= 'A' && c <= 'Z') {
      cleaned.push_back(static_cast<char>(c - 'A' + 'a'));
    } else {
      cleaned.push_back(c);
    }
  }

  // A word counts only when it is not already found in the words collected so far; a word that
  // is not a well-formed pattern "matches" and so is never counted.
  std::string collected;
  std::size_t count = 0;
  std::string_view rest = cleaned;
  while (true) {
    const std::size_t blank = rest.find(' ');
    const std::string_view word = rest.substr(0, blank);
    if (!MatchesQuery(collected, word)) {
      if (!collected.empty()) collected.push_back(' ');
      collected.append(word);
      count += word.size();
    }
    if (blank == std::string_view::npos) break;
    rest.remove_prefix(blank + 1);
  }

  if (count < 3) return SearchQueryRefusal{kQueryTooShortText, "", PromptIcon::kNone};
  return std::nullopt;
}

}  // namespace zorvex
