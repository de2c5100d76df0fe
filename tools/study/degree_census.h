#pragma once
// A look at every online node's neighbour table at one moment: how many neighbours each holds,
// how many tables are full or empty, how many rows the other side also holds, and how much of
// the network one node can reach over neighbour rows.

#include <cstddef>
#include <map>

#include "tools/study/study_network.h"

namespace zorvex::study {

struct DegreeCensus {
  std::size_t online = 0;
  std::map<std::size_t, std::size_t> degrees;  // neighbours -> nodes holding that many
  double mean_degree = 0;
  double full_share = 0;    // tables holding MaxConnections rows
  double empty_share = 0;   // tables holding none
  double mutual_share = 0;  // rows whose neighbour holds a row for this node too
  double reach_share = 0;   // nodes reached over rows from the first gateway's node
};

// `with_links` adds the mutual and reach figures, which walk every row.
DegreeCensus TakeCensus(StudyNetwork& network, bool with_links);

}  // namespace zorvex::study
