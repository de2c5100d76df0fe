#pragma once
// One run of the network study: the size of the simulated network, how it churns, the protocol
// settings it runs with, and how long it is watched. The plan is the list of runs the study makes.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace zorvex::study {

struct StudyConfig {
  std::string name;   // names the run's data, e.g. "scale-1000"
  std::string group;  // the runs compared with each other: "scale", "maxconn", "hops", "loss", ...
  int nodes = 1000;   // how many nodes are online at once (joiners replace leavers)

  // Protocol settings. 0 leaves MaxConnections to each node's connection speed (8, 10 or 12),
  // as the preferences loader sets it; another value is given to every node.
  int max_connections = 0;
  int walk_hops_percent = 100;  // every hop count of the connection walk, scaled
  std::size_t ask_limit = 0;    // nodes one search or source search asks; 0 keeps today's 2,000
  double loss = 0.01;           // datagram loss on every link
  std::int64_t latency_ms = 40;
  std::int64_t jitter_ms = 20;

  // Churn: this share of the online nodes leaves every minute and as many new nodes join.
  double churn_per_minute = 0.01;
  double graceful_share = 0.7;   // leavers that say goodbye; the others vanish
  double returning_share = 0.5;  // joiners that bring the host cache of an earlier leaver
  int gateways = 1;              // gateway pages, each listing what one permanent node knows
  // 0: a gateway serves its node's whole page (own address, neighbours, host cache); another
  // value: that many addresses drawn from it.
  int gateway_page_limit = 0;

  // Time line, in protocol minutes: the first nodes join over `ramp`, churn starts after it, and
  // everything is measured from `warmup` to `warmup + measure`. The rows left one-sided by the
  // ramp's rush of newcomers last up to 7 minutes (two liveness sweeps), so the warm-up ends
  // well after that.
  int ramp_minutes = 3;
  int warmup_minutes = 11;
  int measure_minutes = 10;
  int probe_interval_s = 30;  // a new search probe starts this often
  std::uint64_t seed = 1;
};

// Every run of the study, in the order they are reported.
std::vector<StudyConfig> StudyPlan();

}  // namespace zorvex::study
