#include "search/query_match.h"

#include <cstddef>
#include <string>

namespace zorvex {

namespace {

unsigned char OtherCase(unsigned char c) {
  if (c >= 'a' && c <= 'z') return static_cast<unsigned char>(c - 'a' + 'A');
  if (c >= 'A' && c <= 'Z') return static_cast<unsigned char>(c - 'A' + 'a');
  return c;
}

void SetBit(std::array<std::uint64_t, 4>& set, unsigned char c) {
  set[c >> 6] |= std::uint64_t{1} << (c & 63);
}

bool HasBit(const std::array<std::uint64_t, 4>& set, unsigned char c) {
  return (set[c >> 6] >> (c & 63)) & 1;
}

// Both letter cases of every byte in [low, high].
void AddRange(std::array<std::uint64_t, 4>& set, unsigned char low, unsigned char high) {
  for (unsigned c = low; c <= high; ++c) {
    SetBit(set, static_cast<unsigned char>(c));
    SetBit(set, OtherCase(static_cast<unsigned char>(c)));
  }
}

}  // namespace

bool QueryMatcher::Compile(std::string_view pattern, Pattern& out) {
  out.clear();
  std::size_t i = 0;
  while (i < pattern.size()) {
    const auto c = static_cast<unsigned char>(pattern[i]);
    Token token;
    if (c == '*') {
      ++i;
      // A run of stars means the same as one.
      if (out.empty() || !out.back().star) {
        token.star = true;
        out.push_back(token);
      }
      continue;
    }
    if (c == '?') {
      token.set.fill(~std::uint64_t{0});
      ++i;
    } else if (c == '#') {
      AddRange(token.set, '0', '9');
      ++i;
    } else if (c == '[') {
      std::size_t j = i + 1;
      const bool negate = j < pattern.size() && pattern[j] == '!';
      if (negate) ++j;
      bool closed = false;
      while (j < pattern.size()) {
        const auto low = static_cast<unsigned char>(pattern[j]);
        if (low == ']') {
          closed = true;
          break;
        }
        if (j + 2 < pattern.size() && pattern[j + 1] == '-' && pattern[j + 2] != ']') {
          const auto high = static_cast<unsigned char>(pattern[j + 2]);
          if (high < low) return false;
          AddRange(token.set, low, high);
          j += 3;
        } else {
          AddRange(token.set, low, low);
          ++j;
        }
      }
      if (!closed) return false;
      if (negate) {
        for (auto& word : token.set)
          word = ~word;
      }
      i = j + 1;
    } else {
      AddRange(token.set, c, c);
      ++i;
    }
    out.push_back(token);
  }
  return true;
}

// Greedy matching that, on a mismatch, only retries from the most recent star: with one-character
// tokens the leftmost placement of each star-separated segment is always the best one, so this
// is exact and at most O(name × pattern).
bool QueryMatcher::Run(const Pattern& pattern, std::string_view name) {
  constexpr std::size_t kNone = static_cast<std::size_t>(-1);
  std::size_t p = 0;
  std::size_t n = 0;
  std::size_t star_p = kNone;
  std::size_t star_n = 0;
  while (n < name.size()) {
    if (p < pattern.size() && pattern[p].star) {
      star_p = p++;
      star_n = n;
    } else if (p < pattern.size() && HasBit(pattern[p].set, static_cast<unsigned char>(name[n]))) {
      ++p;
      ++n;
    } else if (star_p != kNone) {
      p = star_p + 1;
      n = ++star_n;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p].star)
    ++p;
  return p == pattern.size();
}

WildcardResult WildcardMatch(std::string_view name, std::string_view pattern) {
  QueryMatcher::Pattern compiled;
  if (!QueryMatcher::Compile(pattern, compiled)) return WildcardResult::kMalformed;
  return QueryMatcher::Run(compiled, name) ? WildcardResult::kMatch : WildcardResult::kNoMatch;
}

QueryMatcher::QueryMatcher(std::string_view query) {
  std::string pattern;
  while (true) {
    const std::size_t blank = query.find(' ');
    const std::string_view word = query.substr(0, blank);
    if (!word.empty()) {
      pattern.assign("*").append(word).append("*");
      Pattern compiled;
      if (!Compile(pattern, compiled)) break;
      words_.push_back(std::move(compiled));
    }
    if (blank == std::string_view::npos) break;
    query.remove_prefix(blank + 1);
  }
}

bool QueryMatcher::Matches(std::string_view name) const {
  for (const Pattern& word : words_) {
    if (!Run(word, name)) return false;
  }
  return true;
}

bool MatchesQuery(std::string_view name, std::string_view query) {
  return QueryMatcher(query).Matches(name);
}

}  // namespace zorvex
