#include "tools/study/degree_census.h"

#include <queue>
#include <unordered_map>
#include <vector>

#include "core/address.h"
#include "network/peer_table.h"

namespace zorvex::study {
namespace {

bool HoldsRow(Node& node, const std::string& address) {
  for (const auto& row : node.peers().rows()) {
    if (SameText(row.address, address)) return true;
  }
  return false;
}

double MutualShare(StudyNetwork& network) {
  std::size_t rows = 0;
  std::size_t mutual = 0;
  for (std::size_t i = 0; i < network.size(); ++i) {
    Member& member = network[i];
    for (const auto& row : member.node->peers().rows()) {
      ++rows;
      Member* other = network.Find(row.address);
      mutual += other && HoldsRow(*other->node, member.address);
    }
  }
  return rows ? static_cast<double>(mutual) / static_cast<double>(rows) : 0;
}

double ReachShare(StudyNetwork& network) {
  std::vector<bool> seen(network.size(), false);
  std::unordered_map<const Member*, std::size_t> index;
  for (std::size_t i = 0; i < network.size(); ++i)
    index[&network[i]] = i;
  // From the first gateway's node, which never leaves.
  const std::size_t start = 0;
  std::queue<std::size_t> open;
  open.push(start);
  seen[start] = true;
  std::size_t reached = 1;
  while (!open.empty()) {
    const std::size_t at = open.front();
    open.pop();
    for (const auto& row : network[at].node->peers().rows()) {
      Member* next = network.Find(row.address);
      if (!next || seen[index[next]]) continue;
      seen[index[next]] = true;
      ++reached;
      open.push(index[next]);
    }
  }
  return static_cast<double>(reached) / static_cast<double>(network.size());
}

}  // namespace

DegreeCensus TakeCensus(StudyNetwork& network, bool with_links) {
  DegreeCensus census;
  census.online = network.size();
  std::size_t links = 0;
  std::size_t full = 0;
  std::size_t empty = 0;
  for (std::size_t i = 0; i < network.size(); ++i) {
    Node& node = *network[i].node;
    const std::size_t degree = node.peers().size();
    ++census.degrees[degree];
    links += degree;
    full += node.peers().full();
    empty += degree == 0;
  }
  const double online = static_cast<double>(census.online);
  census.mean_degree = static_cast<double>(links) / online;
  census.full_share = static_cast<double>(full) / online;
  census.empty_share = static_cast<double>(empty) / online;
  if (with_links) {
    census.mutual_share = MutualShare(network);
    census.reach_share = ReachShare(network);
  }
  return census;
}

}  // namespace zorvex::study
