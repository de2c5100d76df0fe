#pragma once
// Search probes: a file is given to 1, 10 or 100 random nodes, a random node searches for it on
// its real search path, then downloads the first result as a user would, which starts the
// download's own source search. A probe records whom the search asked, what it cost in messages,
// and when each holder was found, first in the results and then in the download's source list.

#include <cstdint>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "tools/study/study_network.h"
#include "tools/study/traffic_meter.h"

namespace zorvex::study {

// How long the download's source list is watched; the node itself picks its first source after
// the first 20 seconds.
inline constexpr std::int64_t kSourceWatchMs = 60'000;
inline constexpr std::int64_t kSourceChoiceMs = 20'000;

struct ProbeRecord {
  int id = 0;
  std::string query;
  std::string file_name;
  std::string searcher;
  std::size_t holders = 0;
  std::size_t online = 0;  // nodes online when the search started
  std::int64_t started_ms = 0;

  // The search.
  std::uint64_t requests = 0;  // "SearchFor:" sent: the nodes asked
  std::uint64_t lists = 0;     // "SearchList:" that reached the searcher
  std::uint64_t search_messages = 0;
  std::int64_t last_request_ms = -1;   // after the start
  std::int64_t search_ms = -1;         // until the search ended by itself
  std::vector<std::int64_t> found_ms;  // after the start, one per holder found in the results

  // The download's source search, from the moment the download started.
  bool downloaded = false;
  std::int64_t download_ms = 0;       // when the download started, after the start of the search
  std::uint64_t source_requests = 0;  // "SourceSearch:" sent
  std::uint64_t source_messages = 0;
  std::vector<std::int64_t> source_ms;  // one per holder in the source list
};

class SearchProbes {
 public:
  SearchProbes(StudyNetwork& network, TrafficMeter& meter);

  // Starts a probe whose file `holders` nodes share; false when no node can search now.
  bool Launch(std::size_t holders);
  // Follows every open probe; call often (every 100 ms of protocol time).
  void Poll();
  const std::vector<ProbeRecord>& records() const { return records_; }

 private:
  struct Open {
    std::size_t record;
    std::vector<std::string> holders;
    std::unordered_set<std::string> found;
    std::unordered_set<std::string> sourced;
    std::size_t results_seen = 0;
    bool searching = true;
  };

  void Count(const SubjectDatagram& datagram);
  std::vector<std::string> PickHolders(std::size_t count, const std::string& searcher);
  // False when the probe is over.
  bool Follow(Open& probe);
  void FollowSearch(Open& probe, Node& searcher, std::int64_t elapsed);
  void FollowSources(Open& probe, Node& searcher, std::int64_t elapsed);
  void Close(Open& probe);

  StudyNetwork& network_;
  std::vector<ProbeRecord> records_;
  std::vector<Open> open_;
  std::unordered_map<std::string, std::size_t> by_subject_;  // query or file name -> record
};

}  // namespace zorvex::study
