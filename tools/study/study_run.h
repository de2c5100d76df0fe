#pragma once
// One run of the study: the network grows to its size, churns, and is watched for the measured
// minutes while probes search it; everything it measured is written as tables into a folder.

#include <cstdint>
#include <filesystem>
#include <vector>

#include "tools/study/degree_census.h"
#include "tools/study/join_tracker.h"
#include "tools/study/search_probes.h"
#include "tools/study/study_config.h"
#include "tools/study/traffic_meter.h"

namespace zorvex::study {

// One minute of the measured window.
struct MinuteSample {
  int minute = 0;  // of protocol time since the start
  DegreeCensus census;
  std::uint64_t gateway_requests = 0;  // served during the minute, all gateways together
};

struct RunResults {
  double node_minutes = 0;  // online nodes summed over the measured window
  std::uint64_t joins = 0;  // during the window
  std::uint64_t leaves = 0;
  std::array<FamilyCount, kFamilies> traffic{};
  std::uint64_t gateway_requests = 0;  // during the window, all gateways together
  double gateway_page_bytes = 0;       // mean size of a page served in the window
  double gateway_page_entries = 0;     // addresses on the last page served, averaged over gateways
  double gateway_node_received = 0;    // datagrams the gateways' nodes received, each, a minute
  DegreeCensus final_census;
  std::vector<MinuteSample> minutes;
  std::vector<JoinRecord> joins_followed;
  std::vector<ProbeRecord> probes;
  double wall_seconds = 0;
};

RunResults RunStudy(const StudyConfig& config, const std::filesystem::path& scratch);

// The run's tables, each with the run's name in its first column.
void WriteRunTables(const StudyConfig& config, const RunResults& results,
                    const std::filesystem::path& folder);

}  // namespace zorvex::study
