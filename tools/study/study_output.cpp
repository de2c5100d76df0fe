// The tables of one run: the summary row and the detail tables the plots read.

#include <array>
#include <functional>
#include <string>
#include <vector>

#include "tools/study/csv_table.h"
#include "tools/study/stats.h"
#include "tools/study/study_run.h"

namespace zorvex::study {
namespace {

// The holder class a probe belongs to: small networks cap the largest one.
std::size_t HolderClass(const ProbeRecord& probe) {
  return probe.holders <= 1 ? 1 : probe.holders <= 10 ? 10 : 100;
}

// Of the joiners followed at least `within_ms` (or full before), the share full by then.
double ShareFullWithin(const std::vector<JoinRecord>& joins, std::int64_t within_ms) {
  double seen = 0;
  double full = 0;
  for (const auto& join : joins) {
    const bool full_in_time = join.full_ms >= 0 && join.full_ms <= within_ms;
    if (!full_in_time && join.watched_ms < within_ms) continue;
    ++seen;
    full += full_in_time;
  }
  return seen > 0 ? full / seen : std::nan("");
}

std::vector<double> Seconds(const std::vector<JoinRecord>& joins, std::int64_t JoinRecord::*field) {
  std::vector<double> out;
  for (const auto& join : joins) {
    if (join.*field >= 0) out.push_back(static_cast<double>(join.*field) / 1000);
  }
  return out;
}

// The mean count of a joiner's rows that its neighbour holds too, at one of kJoinAgesS.
double MutualAtAge(const std::vector<JoinRecord>& joins, int age_s) {
  std::vector<double> samples;
  for (std::size_t a = 0; a < kJoinAgesS.size(); ++a) {
    if (kJoinAgesS[a] != age_s) continue;
    for (const auto& join : joins) {
      if (join.mutual[a] >= 0) samples.push_back(join.mutual[a]);
    }
  }
  return Mean(samples);
}

// A figure of the probes of one holder class: the mean of `value` over those it gives one for.
double ProbeMean(const std::vector<ProbeRecord>& probes, std::size_t holders,
                 const std::function<double(const ProbeRecord&)>& value) {
  std::vector<double> samples;
  for (const auto& probe : probes) {
    if (holders != 0 && HolderClass(probe) != holders) continue;
    const double v = value(probe);
    if (!std::isnan(v)) samples.push_back(v);
  }
  return Mean(samples);
}

double Share(std::size_t part, std::size_t whole) {
  return whole ? static_cast<double>(part) / static_cast<double>(whole) : std::nan("");
}

// When the last holder was found, if every one was.
double AllFoundSeconds(const std::vector<std::int64_t>& times, std::size_t holders) {
  if (holders == 0 || times.size() < holders) return std::nan("");
  return static_cast<double>(times.back()) / 1000;
}

// When the last holder found was found.
double LastSeconds(const std::vector<std::int64_t>& times) {
  return times.empty() ? std::nan("") : static_cast<double>(times.back()) / 1000;
}

std::size_t FoundBy(const std::vector<std::int64_t>& times, std::int64_t ms) {
  std::size_t count = 0;
  for (const auto t : times)
    count += t <= ms;
  return count;
}

double PerNodeMinute(const RunResults& results, Family family) {
  return static_cast<double>(results.traffic[static_cast<std::size_t>(family)].messages) /
         results.node_minutes;
}

void WriteSummary(const StudyConfig& c, const RunResults& r, const std::filesystem::path& folder) {
  CsvTable table(folder / "summary.csv", {"run",
                                          "group",
                                          "nodes",
                                          "max_connections",
                                          "walk_hops_percent",
                                          "loss",
                                          "churn_per_minute",
                                          "gateways",
                                          "joins",
                                          "leaves",
                                          "mean_degree",
                                          "full_share",
                                          "empty_share",
                                          "mutual_share",
                                          "reach_share",
                                          "first_median_s",
                                          "first_p90_s",
                                          "full_by_60s",
                                          "full_by_300s",
                                          "full_median_s",
                                          "joiner_mutual_60s",
                                          "joiner_mutual_420s",
                                          "probes",
                                          "search_reach",
                                          "search_requests",
                                          "search_lists",
                                          "search_messages",
                                          "search_s",
                                          "last_request_s",
                                          "found_1",
                                          "found_10",
                                          "found_100",
                                          "last_found_s_1",
                                          "last_found_s_10",
                                          "last_found_s_100",
                                          "sourced20_1",
                                          "sourced20_10",
                                          "sourced20_100",
                                          "sourced_1",
                                          "sourced_10",
                                          "sourced_100",
                                          "last_sourced_s_1",
                                          "last_sourced_s_10",
                                          "last_sourced_s_100",
                                          "source_requests",
                                          "msgs_node_min",
                                          "lost_share",
                                          "walk_node_min",
                                          "offer_node_min",
                                          "liveness_node_min",
                                          "gateway_requests_min",
                                          "gateway_page_bytes",
                                          "gateway_page_entries",
                                          "gateway_node_received_min",
                                          "wall_s"});
  const auto& p = r.probes;
  const auto found = [](const ProbeRecord& x) { return Share(x.found_ms.size(), x.holders); };
  const auto last_found = [](const ProbeRecord& x) { return LastSeconds(x.found_ms); };
  const auto last_sourced = [](const ProbeRecord& x) { return LastSeconds(x.source_ms); };
  const auto sourced20 = [](const ProbeRecord& x) {
    return x.downloaded ? Share(FoundBy(x.source_ms, kSourceChoiceMs), x.holders) : std::nan("");
  };
  const auto sourced = [](const ProbeRecord& x) {
    return x.downloaded ? Share(x.source_ms.size(), x.holders) : std::nan("");
  };
  const auto first = Seconds(r.joins_followed, &JoinRecord::first_ms);
  double total = 0;
  double lost = 0;
  for (const auto& count : r.traffic) {
    total += static_cast<double>(count.messages);
    lost += static_cast<double>(count.lost);
  }
  table.Row({c.name,
             c.group,
             c.nodes,
             c.max_connections,
             c.walk_hops_percent,
             c.loss,
             c.churn_per_minute,
             c.gateways,
             r.joins,
             r.leaves,
             r.final_census.mean_degree,
             r.final_census.full_share,
             r.final_census.empty_share,
             r.final_census.mutual_share,
             r.final_census.reach_share,
             Percentile(first, 0.5),
             Percentile(first, 0.9),
             ShareFullWithin(r.joins_followed, 60'000),
             ShareFullWithin(r.joins_followed, 300'000),
             Percentile(Seconds(r.joins_followed, &JoinRecord::full_ms), 0.5),
             MutualAtAge(r.joins_followed, 60),
             MutualAtAge(r.joins_followed, 420),
             p.size(),
             ProbeMean(p, 0,
                       [](const ProbeRecord& x) {
                         return Share(static_cast<std::size_t>(x.lists), x.online - 1);
                       }),
             ProbeMean(p, 0, [](const ProbeRecord& x) { return double(x.requests); }),
             ProbeMean(p, 0, [](const ProbeRecord& x) { return double(x.lists); }),
             ProbeMean(p, 0, [](const ProbeRecord& x) { return double(x.search_messages); }),
             ProbeMean(p, 0,
                       [](const ProbeRecord& x) {
                         return x.search_ms < 0 ? std::nan("") : x.search_ms / 1000.0;
                       }),
             ProbeMean(p, 0,
                       [](const ProbeRecord& x) {
                         return x.last_request_ms < 0 ? std::nan("") : x.last_request_ms / 1000.0;
                       }),
             ProbeMean(p, 1, found),
             ProbeMean(p, 10, found),
             ProbeMean(p, 100, found),
             ProbeMean(p, 1, last_found),
             ProbeMean(p, 10, last_found),
             ProbeMean(p, 100, last_found),
             ProbeMean(p, 1, sourced20),
             ProbeMean(p, 10, sourced20),
             ProbeMean(p, 100, sourced20),
             ProbeMean(p, 1, sourced),
             ProbeMean(p, 10, sourced),
             ProbeMean(p, 100, sourced),
             ProbeMean(p, 1, last_sourced),
             ProbeMean(p, 10, last_sourced),
             ProbeMean(p, 100, last_sourced),
             ProbeMean(p, 0,
                       [](const ProbeRecord& x) {
                         return x.downloaded ? double(x.source_requests) : std::nan("");
                       }),
             total / r.node_minutes,
             lost / total,
             PerNodeMinute(r, Family::kWalk),
             PerNodeMinute(r, Family::kOffer),
             PerNodeMinute(r, Family::kPing) + PerNodeMinute(r, Family::kPong),
             static_cast<double>(r.gateway_requests) / c.measure_minutes,
             r.gateway_page_bytes,
             r.gateway_page_entries,
             r.gateway_node_received,
             r.wall_seconds});
}

void WriteDegrees(const StudyConfig& c, const RunResults& r, const std::filesystem::path& folder) {
  CsvTable table(folder / "degrees.csv", {"run", "group", "nodes", "degree", "count", "share"});
  for (const auto& [degree, count] : r.final_census.degrees) {
    table.Row({c.name, c.group, c.nodes, degree, count,
               static_cast<double>(count) / static_cast<double>(r.final_census.online)});
  }
}

void WriteJoins(const StudyConfig& c, const RunResults& r, const std::filesystem::path& folder) {
  CsvTable table(folder / "joins.csv",
                 {"run", "group", "nodes", "max_connections", "first_s", "full_s", "watched_s"});
  CsvTable ages(folder / "join_ages.csv",
                {"run", "group", "nodes", "age_s", "rows", "mutual", "max_connections"});
  const auto seconds = [](std::int64_t ms) { return ms < 0 ? std::nan("") : ms / 1000.0; };
  for (const auto& join : r.joins_followed) {
    table.Row({c.name, c.group, c.nodes, join.max_connections, seconds(join.first_ms),
               seconds(join.full_ms), seconds(join.watched_ms)});
    for (std::size_t a = 0; a < join.ages_seen; ++a) {
      ages.Row({c.name, c.group, c.nodes, kJoinAgesS[a], join.rows[a], join.mutual[a],
                join.max_connections});
    }
  }
}

void WriteProbes(const StudyConfig& c, const RunResults& r, const std::filesystem::path& folder) {
  CsvTable table(folder / "probes.csv", {"run",
                                         "group",
                                         "nodes",
                                         "probe",
                                         "holders",
                                         "online",
                                         "requests",
                                         "reach",
                                         "lists",
                                         "search_messages",
                                         "last_request_s",
                                         "search_s",
                                         "found",
                                         "last_found_s",
                                         "all_found_s",
                                         "downloaded",
                                         "source_requests",
                                         "source_messages",
                                         "sourced_20s",
                                         "sourced",
                                         "last_sourced_s",
                                         "all_sourced_s"});
  CsvTable finds(folder / "finds.csv",
                 {"run", "group", "nodes", "holder_class", "phase", "seconds"});
  const auto seconds = [](std::int64_t ms) { return ms < 0 ? std::nan("") : ms / 1000.0; };
  for (const auto& probe : r.probes) {
    table.Row({c.name,
               c.group,
               c.nodes,
               probe.id,
               probe.holders,
               probe.online,
               probe.requests,
               Share(static_cast<std::size_t>(probe.lists), probe.online - 1),
               probe.lists,
               probe.search_messages,
               seconds(probe.last_request_ms),
               seconds(probe.search_ms),
               probe.found_ms.size(),
               LastSeconds(probe.found_ms),
               AllFoundSeconds(probe.found_ms, probe.holders),
               probe.downloaded ? 1 : 0,
               probe.source_requests,
               probe.source_messages,
               FoundBy(probe.source_ms, kSourceChoiceMs),
               probe.source_ms.size(),
               LastSeconds(probe.source_ms),
               AllFoundSeconds(probe.source_ms, probe.holders)});
    for (const auto t : probe.found_ms)
      finds.Row({c.name, c.group, c.nodes, HolderClass(probe), "search", t / 1000.0});
    for (const auto t : probe.source_ms)
      finds.Row({c.name, c.group, c.nodes, HolderClass(probe), "source", t / 1000.0});
  }
}

// One row: messages per node and minute of each family, then all bytes per node and minute.
void WriteTraffic(const StudyConfig& c, const RunResults& r, const std::filesystem::path& folder) {
  CsvTable table(folder / "traffic.csv",
                 {"run", "group", "nodes", "offer", "accept", "walk", "goodbye", "ping", "pong",
                  "search", "source", "download", "other", "bytes"});
  std::vector<double> rates;
  double bytes = 0;
  for (std::size_t f = 0; f < kFamilies; ++f) {
    rates.push_back(PerNodeMinute(r, static_cast<Family>(f)));
    bytes += static_cast<double>(r.traffic[f].bytes) / r.node_minutes;
  }
  static_assert(kFamilies == 10);
  table.Row({c.name, c.group, c.nodes, rates[0], rates[1], rates[2], rates[3], rates[4], rates[5],
             rates[6], rates[7], rates[8], rates[9], bytes});
}

void WriteTimeline(const StudyConfig& c, const RunResults& r, const std::filesystem::path& folder) {
  CsvTable table(folder / "timeline.csv",
                 {"run", "group", "nodes", "minute", "online", "mean_degree", "full_share",
                  "empty_share", "gateway_requests"});
  for (const auto& sample : r.minutes) {
    table.Row({c.name, c.group, c.nodes, sample.minute, sample.census.online,
               sample.census.mean_degree, sample.census.full_share, sample.census.empty_share,
               sample.gateway_requests});
  }
}

}  // namespace

void WriteRunTables(const StudyConfig& config, const RunResults& results,
                    const std::filesystem::path& folder) {
  std::filesystem::create_directories(folder);
  WriteSummary(config, results, folder);
  WriteDegrees(config, results, folder);
  WriteJoins(config, results, folder);
  WriteProbes(config, results, folder);
  WriteTraffic(config, results, folder);
  WriteTimeline(config, results, folder);
}

}  // namespace zorvex::study
