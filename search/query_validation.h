#pragma once
// The checks a query must pass before a search starts.

#include <optional>
#include <string_view>

#include "core/runtime.h"

namespace zorvex {

inline constexpr std::string_view kNotConnectedText = "You must be connected in order to search!";
inline constexpr std::string_view kQueryTooShortText =
    "Your search must have at least 3 characters other than spaces, wildcards, and repeating "
    "characters.";

// The message box that tells the user why a search may not start.
struct SearchQueryRefusal {
  std::string_view text;
  std::string_view title;  // empty: the application's own title
  PromptIcon icon = PromptIcon::kNone;
};

// Nothing when the search may start, else the refusal of the first failing check: no neighbours,
// or fewer than 3 characters once wildcards, blanks and words already contained in the earlier
// words are left out. The query sent stays the text as typed; this cleaning is for the check only.
std::optional<SearchQueryRefusal> ValidateSearchQuery(std::string_view text, bool has_neighbours);

}  // namespace zorvex
