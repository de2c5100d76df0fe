#pragma once
// Wildcard matching of search queries against file names. Text is 8-bit: one byte is one
// character, and letter case is ignored for the ASCII letters only (raw UTF-8 names stay exact).
//
// Pattern language: "*" any run (also none), "?" one character, "#" one digit 0-9, "[list]" one
// character from the list, "[!list]" one character not in it; a list may hold ranges such as
// "a-z". Inside a list every character stands for itself except a leading "!", a "-" between two
// characters, and the closing "]"; "-" first or last is itself. "[]" matches no character and
// "[!]" any one. A pattern is malformed when a "[" is never closed or a range runs downwards
// ("[z-a]").

#include <array>
#include <cstdint>
#include <string_view>
#include <vector>

namespace zorvex {

enum class WildcardResult { kMatch, kNoMatch, kMalformed };

// One pattern against the whole name. Worst case O(name × pattern), no exponential backtracking.
WildcardResult WildcardMatch(std::string_view name, std::string_view pattern);

// A query compiled once and matched against many names (a served request walks the whole
// shared table). The query splits at every single blank into words; each word must be found
// anywhere in the name (pattern "*" + word + "*"); an empty word always matches. The first
// malformed word ends the test with a match: it and the words after it count as matching.
class QueryMatcher {
 public:
  explicit QueryMatcher(std::string_view query);
  bool Matches(std::string_view name) const;

 private:
  struct Token {
    bool star = false;
    std::array<std::uint64_t, 4> set{};  // the bytes one character token accepts
  };
  using Pattern = std::vector<Token>;

  friend WildcardResult WildcardMatch(std::string_view, std::string_view);
  static bool Compile(std::string_view pattern, Pattern& out);
  static bool Run(const Pattern& pattern, std::string_view name);

  std::vector<Pattern> words_;  // the words before the first malformed one
};

// True when every word of the query is found in the name (see QueryMatcher). The argument order
// is name first, query second.
bool MatchesQuery(std::string_view name, std::string_view query);

}  // namespace zorvex
