#pragma once
// Serving other nodes' searches: every "SearchFor:" is answered with this node's neighbour list
// ("SearchList:") and up to 25 matching shared files ("SearchFound:").

#include <string>
#include <string_view>

#include "settings/preferences.h"
#include "share/shared_files.h"

namespace zorvex {

class MessageLayer;
class PeerTable;

inline constexpr int kMaxResultsPerRequest = 25;

// Serves one request. Requests from our own address, and payloads that do not carry a query, a
// category code and a search number, are not answered.
void HandleSearchFor(std::string_view payload, const std::string& sender, MessageLayer& messages,
                     const PeerTable& peers, const Preferences& prefs,
                     const SharedFileTable& files);

}  // namespace zorvex
