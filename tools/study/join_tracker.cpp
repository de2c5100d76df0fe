#include "tools/study/join_tracker.h"

#include "core/address.h"
#include "network/peer_table.h"

namespace zorvex::study {

int MutualRows(StudyNetwork& network, const Member& member) {
  int mutual = 0;
  for (const auto& row : member.node->peers().rows()) {
    const Member* other = network.Find(row.address);
    if (!other) continue;
    for (const auto& back : other->node->peers().rows()) {
      if (SameText(back.address, member.address)) {
        ++mutual;
        break;
      }
    }
  }
  return mutual;
}

void JoinTracker::Follow(const Member& member) {
  JoinRecord record;
  record.address = member.address;
  record.max_connections = member.node->preferences().MaxConnections;
  record.joined_ms = member.joined_ms;
  record.rows.fill(-1);
  record.mutual.fill(-1);
  open_.push_back(records_.size());
  records_.push_back(std::move(record));
}

void JoinTracker::Poll(StudyNetwork& network, std::int64_t now_ms) {
  std::size_t kept = 0;
  for (const std::size_t i : open_) {
    if (Look(records_[i], network, now_ms)) open_[kept++] = i;
  }
  open_.resize(kept);
}

bool JoinTracker::Look(JoinRecord& record, StudyNetwork& network, std::int64_t now_ms) {
  Member* member = network.Find(record.address);
  if (!member) return false;  // left: stays as far as it got
  record.watched_ms = now_ms - record.joined_ms;
  const auto neighbours = member->node->peers().size();
  if (record.first_ms < 0 && neighbours > 0) record.first_ms = record.watched_ms;
  if (record.full_ms < 0 && neighbours >= static_cast<std::size_t>(record.max_connections))
    record.full_ms = record.watched_ms;
  const std::size_t age = record.ages_seen;
  if (age < kJoinAgesS.size() && record.watched_ms >= kJoinAgesS[age] * 1000) {
    record.rows[age] = static_cast<int>(neighbours);
    record.mutual[age] = MutualRows(network, *member);
    ++record.ages_seen;
  }
  return record.ages_seen < kJoinAgesS.size();
}

}  // namespace zorvex::study
