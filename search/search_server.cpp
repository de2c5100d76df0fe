#include "search/search_server.h"

#include <charconv>
#include <optional>
#include <vector>

#include "core/address.h"
#include "core/fields.h"
#include "core/message_layer.h"
#include "network/peer_table.h"
#include "search/query_match.h"
#include "share/file_kind.h"

namespace zorvex {
namespace {}  // namespace

void HandleSearchFor(std::string_view payload, const std::string& sender, MessageLayer& messages,
                     const PeerTable& peers, const Preferences& prefs,
                     const SharedFileTable& files) {
  if (SameText(sender, prefs.MyIP)) return;
  // query|category|number: a query holding "|" would shift the fields, so the last two are
  // taken from the end.
  const auto last = payload.rfind('|');
  if (last == std::string_view::npos || last == 0) return;
  const auto middle = payload.rfind('|', last - 1);
  if (middle == std::string_view::npos) return;
  const std::string_view query = payload.substr(0, middle);
  const auto category = ParseDecimal<int>(payload.substr(middle + 1, last - middle - 1));
  const std::string_view number = payload.substr(last + 1);
  if (!category || !ParseDecimal<int>(number)) return;

  const std::string head = std::string(query) + "|" + std::string(number) + "|";
  messages.QueueMessage("SearchList:" + head + peers.NeighbourList(), sender);

  const std::string_view filter = *category != 0 ? GetCategoryName(*category) : std::string_view{};
  const QueryMatcher matcher(query);
  const std::string who = "|" + prefs.Nickname + "|" + std::to_string(prefs.Connection) + "|";
  int hits = 0;
  for (const SharedFile& row : files.rows) {
    if (!filter.empty() && !SameText(row.category, filter)) continue;
    // A name holding the field separator would corrupt the answer.
    if (row.file_name.find('|') != std::string::npos || !matcher.Matches(row.base_name)) continue;
    messages.QueueMessage("SearchFound:" + head + row.file_name + "|" + std::to_string(row.size) +
                              who + row.hash + "|" + row.category + "|" + row.media_info,
                          sender);
    if (++hits == kMaxResultsPerRequest) break;
  }
}

}  // namespace zorvex
