#include "search/query_validation.h"

#include <gtest/gtest.h>

#include <string_view>

namespace zorvex {
namespace {

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
