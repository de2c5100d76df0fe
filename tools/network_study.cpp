// The network study: runs every configuration of the study plan on the simulator, several at a
// time in child processes, and joins their tables into one set of CSV files.
//
//   network_study [--out DIR] [--jobs N] [--only NAME[,NAME...]]
//
// DIR (default docs/network-study/data) receives summary.csv, degrees.csv, joins.csv,
// join_ages.csv, probes.csv, finds.csv, traffic.csv and timeline.csv.

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "tools/study/csv_table.h"
#include "tools/study/study_config.h"
#include "tools/study/study_run.h"

namespace {

using zorvex::study::StudyConfig;
namespace fs = std::filesystem;

constexpr const char* kTables[] = {"summary.csv", "degrees.csv", "joins.csv",   "join_ages.csv",
                                   "probes.csv",  "finds.csv",   "traffic.csv", "timeline.csv"};

struct Options {
  fs::path out = "docs/network-study/data";
  int jobs = 2;
  std::vector<std::string> only;
};

Options ParseOptions(int argc, char** argv) {
  Options options;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string flag = argv[i];
    const std::string value = argv[i + 1];
    if (flag == "--out") {
      options.out = value;
    } else if (flag == "--jobs") {
      options.jobs = std::max(1, std::atoi(value.c_str()));
    } else if (flag == "--only") {
      for (std::size_t at = 0; at <= value.size();) {
        const auto comma = std::min(value.find(',', at), value.size());
        options.only.push_back(value.substr(at, comma - at));
        at = comma + 1;
      }
    } else {
      std::fprintf(stderr, "unknown option %s\n", flag.c_str());
      std::exit(2);
    }
  }
  return options;
}

// Runs one configuration in this (child) process; the exit status tells how it went.
int RunOne(const StudyConfig& config, const fs::path& folder) {
  try {
    const fs::path scratch =
        fs::temp_directory_path() / ("zorvex-study-" + std::to_string(getpid()));
    const auto results = zorvex::study::RunStudy(config, scratch);
    zorvex::study::WriteRunTables(config, results, folder);
    fs::remove_all(scratch);
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const double cpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                       static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    std::printf("%-24s %6d nodes %3d min of protocol time: %6.1f s wall, %6.1f s CPU\n",
                config.name.c_str(), config.nodes, config.warmup_minutes + config.measure_minutes,
                results.wall_seconds, cpu);
    std::fflush(stdout);
    return 0;
  } catch (const std::exception& error) {
    std::fprintf(stderr, "%s: %s\n", config.name.c_str(), error.what());
    return 1;
  }
}

// Runs the configurations, at most `jobs` at once, the costliest first; false if any failed.
bool RunAll(std::vector<StudyConfig> plan, const fs::path& runs, int jobs) {
  const auto cost = [](const StudyConfig& c) {
    return static_cast<double>(c.nodes) * (c.warmup_minutes + c.measure_minutes);
  };
  std::stable_sort(plan.begin(), plan.end(),
                   [&](const auto& a, const auto& b) { return cost(a) > cost(b); });
  std::map<pid_t, std::string> running;
  bool ok = true;
  const auto reap = [&] {
    int status = 0;
    const pid_t pid = wait(&status);
    if (pid <= 0) return;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
      std::fprintf(stderr, "run %s failed\n", running[pid].c_str());
      ok = false;
    }
    running.erase(pid);
  };
  for (const auto& config : plan) {
    while (static_cast<int>(running.size()) >= jobs)
      reap();
    std::fflush(stdout);
    const pid_t pid = fork();
    if (pid == 0) std::_Exit(RunOne(config, runs / config.name));
    if (pid < 0) return false;
    running[pid] = config.name;
  }
  while (!running.empty())
    reap();
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  const Options options = ParseOptions(argc, argv);
  std::vector<StudyConfig> plan;
  for (auto& config : zorvex::study::StudyPlan()) {
    if (options.only.empty() ||
        std::find(options.only.begin(), options.only.end(), config.name) != options.only.end()) {
      plan.push_back(std::move(config));
    }
  }
  const fs::path runs = options.out / "runs";
  fs::remove_all(runs);
  if (!RunAll(plan, runs, options.jobs)) return 1;
  // The tables, in the plan's order.
  std::vector<fs::path> folders;
  for (const auto& config : zorvex::study::StudyPlan()) {
    if (fs::exists(runs / config.name)) folders.push_back(runs / config.name);
  }
  for (const char* table : kTables)
    zorvex::study::MergeTables(folders, table, options.out / table);
  fs::remove_all(runs);
  return 0;
}
