#pragma once
// Follows the nodes that join while the study watches: when each has its first neighbour, when
// its table first holds MaxConnections neighbours, and at set ages how many rows it holds and in
// how many of them the neighbour holds the joiner too.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "tools/study/study_network.h"

namespace zorvex::study {

// The ages at which a joiner's table is looked at, in seconds after it started.
inline constexpr std::array<int, 7> kJoinAgesS = {5, 30, 60, 120, 240, 420, 600};

struct JoinRecord {
  std::string address;
  int max_connections = 0;
  std::int64_t joined_ms = 0;
  std::int64_t first_ms = -1;   // after joining; -1 while none
  std::int64_t full_ms = -1;    // after joining; -1 while never full
  std::int64_t watched_ms = 0;  // how long it was followed (until it left, or the end)
  // At each age of kJoinAgesS: rows held, and rows whose neighbour holds the joiner too; -1
  // when the joiner was not followed that long.
  std::array<int, kJoinAgesS.size()> rows{};
  std::array<int, kJoinAgesS.size()> mutual{};
  std::size_t ages_seen = 0;
};

class JoinTracker {
 public:
  void Follow(const Member& member);
  // Looks at every joiner still followed; call often (every 100 ms of protocol time).
  void Poll(StudyNetwork& network, std::int64_t now_ms);
  const std::vector<JoinRecord>& records() const { return records_; }

 private:
  // False once nothing more is to be learned about the joiner.
  bool Look(JoinRecord& record, StudyNetwork& network, std::int64_t now_ms);

  std::vector<JoinRecord> records_;
  std::vector<std::size_t> open_;  // records still followed
};

// How many of the member's rows name a member that holds a row for it too.
int MutualRows(StudyNetwork& network, const Member& member);

}  // namespace zorvex::study
