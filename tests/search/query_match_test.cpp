#include "search/query_match.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "search/query_validation.h"

namespace zorvex {
namespace {

struct Case {
  std::string_view query;
  std::string_view name;
  bool matches;
};

void ExpectQueries(const std::vector<Case>& cases) {
  for (const Case& c : cases) {
    EXPECT_EQ(MatchesQuery(c.name, c.query), c.matches)
        << "query '" << c.query << "' name '" << c.name << "'";
    EXPECT_EQ(QueryMatcher(c.query).Matches(c.name), c.matches)
        << "query '" << c.query << "' name '" << c.name << "'";
  }
}

// Every word anywhere in any case.
TEST(MatchesQueryTest, WordsEmptyWordsMalformedWordsAndBlanks) {
  const std::vector<Case> words = {
      {"blue moon", "Blue Moon", true}, {"blue moon", "moonlight blues", true},
      {"blue moon", "blue sky", false}, {"mp3", "moon", false},
      {"b?ue", "Blue", true},           {"track #", "Track 7", true},
      {"track #", "Track A", false},    {"LIVE", "alive and well", true},
      {"moon blue", "Blue Moon", true}, {"bluemoon", "Blue Moon", false},
  };
  // Empty words always match.
  const std::vector<Case> empty = {
      {"", "anything", true},   {"", "", true},
      {" ", "x", true},         {"blue  moon", "moon blue", true},
      {"  blue", "sky", false}, {"x", "", false},
  };
  // A malformed word ends the test with a match. In "[a b]" the blank splits the list: "[a" is
  // malformed.
  const std::vector<Case> malformed = {
      {"abc [x", "xxabcxx", true}, {"abc [x", "ab", false},  {"[x abc", "nothing alike", true},
      {"[x zzz", "abc", true},     {"zzz [x", "abc", false}, {"abc [z-a] zzz", "abc", true},
      {"[!", "abc", true},         {"[a b]", "q", true},
  };
  // Only the blank splits words.
  const std::vector<Case> blanks = {
      {"a\tb", "a\tb", true},
      {"a\tb", "a b", false},
      {"a|b", "xa|by", true},
  };
  for (const auto* table : {&words, &empty, &malformed, &blanks})
    ExpectQueries(*table);
}

struct WildCase {
  std::string_view pattern;
  std::string_view name;
  WildcardResult result;
};

constexpr WildcardResult kYes = WildcardResult::kMatch;
constexpr WildcardResult kNo = WildcardResult::kNoMatch;
constexpr WildcardResult kBad = WildcardResult::kMalformed;

void ExpectWildcards(const std::vector<WildCase>& cases) {
  for (const WildCase& c : cases) {
    EXPECT_EQ(WildcardMatch(c.name, c.pattern), c.result)
        << "pattern '" << c.pattern << "' name '" << c.name << "'";
  }
}

TEST(WildcardMatchTest, StarsMarksDigitsLettersListsAndMalformedPatterns) {
  const std::vector<WildCase> stars = {
      {"", "", kYes},          {"", "a", kNo},         {"*", "", kYes},
      {"*", "anything", kYes}, {"***", "", kYes},      {"a*b", "ab", kYes},
      {"a*b", "axxb", kYes},   {"a*b", "axxbc", kNo},  {"a**b", "aXb", kYes},
      {"*b", "abab", kYes},    {"a*", "ba", kNo},      {"*ab*ab*", "abab", kYes},
      {"*ab*ab*", "aab", kNo}, {"*aab", "aaab", kYes},
  };
  ExpectWildcards(stars);
  const std::vector<WildCase> marks_and_digits = {
      {"?", "", kNo},       {"?", "x", kYes},     {"?", "xy", kNo},     {"??", "xy", kYes},
      {"?*?", "x", kNo},    {"#", "5", kYes},     {"#", "a", kNo},      {"##", "1", kNo},
      {"#*#", "1x2", kYes}, {"a#c", "a0c", kYes}, {"a#c", "a9c", kYes}, {"a#c", "a/c", kNo},
      {"a#c", "a:c", kNo},
  };
  ExpectWildcards(marks_and_digits);
  // Letters ignore case; names may be UTF-8, so no folding of Latin-1 letters, and one byte is
  // one character.
  const std::vector<WildCase> letters = {
      {"abc", "ABC", kYes},   {"AbC", "aBc", kYes}, {"a", "b", kNo},        {"\xC9", "\xE9", kNo},
      {"\xC9", "\xC9", kYes}, {"?", "\xE9", kYes},  {"?", "\xC3\xA9", kNo}, {"@", "`", kNo},
      {"[", "[", kBad},       {"]", "]", kYes},     {"!", "!", kYes},       {"-", "-", kYes},
  };
  ExpectWildcards(letters);
  const std::vector<WildCase> lists = {
      {"[abc]", "b", kYes}, {"[abc]", "B", kYes}, {"[abc]", "d", kNo},  {"[abc]", "", kNo},
      {"[abc]", "ab", kNo}, {"[a-c]", "b", kYes}, {"[a-c]", "C", kYes}, {"[a-c]", "d", kNo},
      {"[A-C]", "b", kYes}, {"[0-9]", "7", kYes}, {"[0-9]", "x", kNo},  {"[!a-c]", "d", kYes},
      {"[!a-c]", "b", kNo}, {"[!a-c]", "B", kNo}, {"[!a]", "A", kNo},   {"[!abc]", "", kNo},
      {"[]", "a", kNo},     {"[]", "", kNo},      {"[!]", "q", kYes},   {"[!]", "", kNo},
      {"[-a]", "-", kYes},  {"[a-]", "-", kYes},  {"[a-]", "a", kYes},  {"[a-]", "b", kNo},
      {"[!-]", "-", kNo},   {"[a!]", "!", kYes},  {"[[]", "[", kYes},   {"[*?#]", "*", kYes},
      {"[*?#]", "x", kNo},  {"[*?#]", "#", kYes}, {"[a-a]", "A", kYes}, {"[]]", "]", kNo},
  };
  ExpectWildcards(lists);
  const std::vector<WildCase> longer = {
      {"[a-cx-z]", "y", kYes},     {"[a-cx-z]", "m", kNo},        {"[!abc]x", "dx", kYes},
      {"[a-c-e]", "-", kYes},      {"[a-c-e]", "d", kNo},         {"[a-c-e]", "e", kYes},
      {"x[ab]*y", "xbzzy", kYes},  {"[\x80-\xFF]", "\xE9", kYes}, {"[\x80-\xFF]", "e", kNo},
      {"[!\x80-\xFF]", "e", kYes},
  };
  ExpectWildcards(longer);
  const std::vector<WildCase> malformed = {
      {"[", "", kBad},      {"[abc", "abc", kBad}, {"[!", "x", kBad},     {"abc[", "abc", kBad},
      {"[z-a]", "m", kBad}, {"[9-0]", "5", kBad},  {"[a-c][", "a", kBad}, {"*[b-a]*", "x", kBad},
  };
  ExpectWildcards(malformed);
}

// A plain recursive matcher over the same language, memoised, to check the greedy matcher against.
class Reference {
 public:
  Reference(std::string_view pattern, std::string_view name) : pattern_(pattern), name_(name) {}

  WildcardResult Run() {
    for (std::size_t i = 0; i < pattern_.size(); ++i) {
      if (pattern_[i] != '[') continue;
      std::size_t end = 0;
      bool accepts = false;
      if (!ParseList(i, 'x', end, accepts)) return kBad;
      i = end;
    }
    memo_.assign((pattern_.size() + 1) * (name_.size() + 1), -1);
    return Match(0, 0) ? kYes : kNo;
  }

 private:
  static char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }

  bool ParseList(std::size_t open, char c, std::size_t& end, bool& accepts) const {
    std::size_t j = open + 1;
    const bool negate = j < pattern_.size() && pattern_[j] == '!';
    if (negate) ++j;
    bool hit = false;
    for (; j < pattern_.size() && pattern_[j] != ']'; ++j) {
      const auto low = static_cast<unsigned char>(pattern_[j]);
      auto high = low;
      if (j + 2 < pattern_.size() && pattern_[j + 1] == '-' && pattern_[j + 2] != ']') {
        high = static_cast<unsigned char>(pattern_[j + 2]);
        if (high < low) return false;
        j += 2;
      }
      for (const char v : {c, static_cast<char>(c ^ 32)}) {
        if (Lower(v) != Lower(c)) continue;
        const auto u = static_cast<unsigned char>(v);
        if (u >= low && u <= high) hit = true;
      }
    }
    if (j >= pattern_.size()) return false;
    end = j;
    accepts = hit != negate;
    return true;
  }

  bool Match(std::size_t p, std::size_t n) {
    int& slot = memo_[p * (name_.size() + 1) + n];
    if (slot >= 0) return slot == 1;
    bool result = false;
    if (p == pattern_.size()) {
      result = n == name_.size();
    } else if (pattern_[p] == '*') {
      result = Match(p + 1, n) || (n < name_.size() && Match(p, n + 1));
    } else if (n < name_.size()) {
      const char c = name_[n];
      std::size_t next = p + 1;
      bool accepts = false;
      if (pattern_[p] == '?') {
        accepts = true;
      } else if (pattern_[p] == '#') {
        accepts = c >= '0' && c <= '9';
      } else if (pattern_[p] == '[') {
        std::size_t end = 0;
        ParseList(p, c, end, accepts);
        next = end + 1;
      } else {
        accepts = Lower(pattern_[p]) == Lower(c);
      }
      result = accepts && Match(next, n + 1);
    }
    slot = result ? 1 : 0;
    return result;
  }

  std::string_view pattern_;
  std::string_view name_;
  std::vector<int> memo_;
};

TEST(WildcardMatchTest, AgreesWithAPlainRecursiveMatcher) {
  std::mt19937 random(7);
  const std::string pattern_alphabet = "aAb1*?#[]!-";
  const std::string name_alphabet = "aAbB1-!]";
  for (int round = 0; round < 20000; ++round) {
    std::string pattern;
    std::string name;
    for (auto n = random() % 9; n > 0; --n)
      pattern.push_back(pattern_alphabet[random() % pattern_alphabet.size()]);
    for (auto n = random() % 9; n > 0; --n)
      name.push_back(name_alphabet[random() % name_alphabet.size()]);
    ASSERT_EQ(WildcardMatch(name, pattern), Reference(pattern, name).Run())
        << "pattern '" << pattern << "' name '" << name << "'";
  }
}

TEST(WildcardMatchTest, PathologicalPatternsFinish) {
  const std::string as(10000, 'a');
  EXPECT_EQ(WildcardMatch(as, "*a*a*a*a*a*a*a*a*b"), kNo);
  EXPECT_EQ(WildcardMatch(as + "b", "*a*a*a*a*a*a*a*a*b"), kYes);
  EXPECT_EQ(WildcardMatch(as, "*aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaab*"), kNo);
  EXPECT_EQ(WildcardMatch(as, "*?*?*?*?*?*?*?*?*?*?*?*?*?*?*?*?*#"), kNo);
  std::string many_stars;
  for (int i = 0; i < 200; ++i)
    many_stars += "*a";
  EXPECT_EQ(WildcardMatch(as, many_stars + "*b"), kNo);
  EXPECT_EQ(WildcardMatch(as, many_stars), kYes);
  EXPECT_FALSE(MatchesQuery(as, "a*a*a*a*a*a*a*a*b a*a*b"));
  EXPECT_TRUE(MatchesQuery(as + "b", "a*a*a*a*a*a*a*a*b a*a*b"));
}

TEST(ValidateSearchQueryTest, RefusalTexts) {
  // Without neighbours any query is refused, whatever its length.
  for (const std::string_view query : {"abc", "", "a", "blue moon"}) {
    const auto refusal = ValidateSearchQuery(query, false);
    ASSERT_TRUE(refusal.has_value()) << query;
    EXPECT_EQ(refusal->text, "You must be connected in order to search!");
    EXPECT_EQ(refusal->title, "Error");
    EXPECT_EQ(refusal->icon, PromptIcon::kCritical);
  }
  // A short query: no icon, and the program's own title.
  const auto refusal = ValidateSearchQuery("ab", true);
  ASSERT_TRUE(refusal.has_value());
  EXPECT_EQ(refusal->text,
            "Your search must have at least 3 characters other than spaces, wildcards, and "
            "repeating characters.");
  EXPECT_EQ(refusal->title, "");
  EXPECT_EQ(refusal->icon, PromptIcon::kNone);
}

TEST(ValidateSearchQueryTest, CountsCharactersOutsideWildcardsBlanksAndRepeats) {
  struct Case {
    std::string_view query;
    bool accepted;
    std::string_view why;
  };
  const Case cases[] = {
      {"abc", true, "three letters"},
      {"a*b", false, "the word ab"},
      {"abc abc", true, "the repeat is not counted: 3"},
      {"ab a", false, "a is already in ab"},
      {"mp3 mp3 x", true, "counts 4"},
      {"mp3 mp3", true, "counts 3"},
      {"", false, "nothing"},
      {"   ", false, "blanks only"},
      {"a b", false, "counts 2"},
      {"a b c", true, "counts 3"},
      {"a?b?c", true, "? becomes a blank: a, b, c"},
      {"ab?", false, "ab and an empty word"},
      {"###", false, "# is removed"},
      {"a#b#c", true, "# is removed: abc"},
      {"**x**", false, "* is removed"},
      {"aaa", true, "repeated letters within a word count"},
      {"a a a", false, "repeated words do not"},
      {"ABC", true, "upper case"},
      {"AB ab", false, "compared in lower case"},
      {"ab ba", true, "ba is not inside ab"},
      {"abc b", true, "b is inside abc"},
      {"ab b", false, "b is inside ab"},
      {"[abc", false, "an unclosed [ is never counted"},
      {"ab [cd", false, "an unclosed [ is never counted"},
      {"abc [cd", true, "an unclosed [ is never counted"},
      {"ab a[b]", false, "a[b] is found in ab as a pattern"},
      {"a[b]c", true, "counted by its length, brackets included"},
      {"x  y", false, "two blanks give an empty word"},
      {"xy  z", true, "two blanks give an empty word"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(!ValidateSearchQuery(c.query, true).has_value(), c.accepted)
        << c.query << ": " << c.why;
  }
}

}  // namespace
}  // namespace zorvex
