// Any pattern against any name: an answer in bounded time, never a crash. The first byte splits
// the input: that many bytes of pattern, the rest is the name.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "search/query_match.h"
#include "search/query_validation.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::string_view rest(reinterpret_cast<const char*>(data) + 1, size - 1);
  const std::size_t split = data[0] < rest.size() ? data[0] : rest.size();
  const std::string_view pattern = rest.substr(0, split);
  const std::string_view name = rest.substr(split);
  const zorvex::WildcardResult whole = zorvex::WildcardMatch(name, pattern);
  const bool query = zorvex::MatchesQuery(name, pattern);
  // A query without blanks is one word looked for anywhere in the name.
  if (pattern.find(' ') == std::string_view::npos && whole == zorvex::WildcardResult::kMatch &&
      !query) {
    __builtin_trap();
  }
  (void)zorvex::ValidateSearchQuery(pattern, true);
  return 0;
}
