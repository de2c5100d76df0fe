// Serving search requests over a shared-file table of 100,000 rows: microseconds per request for
// a query that matches nothing (the whole table is walked) and for one that matches often (the
// walk stops at 25 results), each against the cost of just walking the rows in the same run.

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>

#include "core/message_layer.h"
#include "network/peer_table.h"
#include "node/node.h"
#include "platform/sim/sim_world.h"
#include "search/search_server.h"
#include "share/shared_files.h"

namespace {

double MicrosPerCall(int calls, const std::function<void()>& call) {
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < calls; ++i)
    call();
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return seconds * 1e6 / calls;
}

}  // namespace

int main(int argc, char** argv) {
  const int rows = argc > 1 ? std::atoi(argv[1]) : 100000;
  const auto home = std::filesystem::temp_directory_path() / "zorvex-search-bench";
  std::filesystem::create_directories(home);
  zorvex::SimWorld world(1);
  auto host = world.CreateHost("10.0.0.1");
  zorvex::Node node(*host, {.home = home});
  node.BindMessageSocket();
  node.preferences().MyIP = "10.0.0.1";
  node.preferences().Nickname = "bench";

  static const char* kWords[] = {"blue", "moon", "live",  "night", "track", "mix",  "summer",
                                 "rain", "city", "dance", "remix", "love",  "road", "fire"};
  std::mt19937 random(3);
  auto& table = node.shared_files();
  for (int i = 0; i < rows; ++i) {
    zorvex::SharedFile row;
    row.base_name =
        std::string(kWords[random() % 14]) + " " + kWords[random() % 14] + " " + std::to_string(i);
    row.file_name = row.base_name + ".mp3";
    row.category = "Music";
    row.size = 4'000'000;
    row.hash = "0123456789ABCDEF0123456789ABCDEF";
    table.rows.push_back(std::move(row));
  }
  table.sorted = true;

  auto serve = [&](const char* payload) {
    zorvex::HandleSearchFor(payload, "10.0.0.2", node.messages(), node.peers(), node.preferences(),
                            table);
    node.messages().Tick();  // sends what was queued, so the queue does not grow
  };
  std::size_t sink = 0;
  const double walk = MicrosPerCall(50, [&] {
    for (const auto& row : table.rows)
      sink += row.base_name.size();
  });
  const double none = MicrosPerCall(50, [&] { serve("zebra crossing|0|7"); });
  const double many = MicrosPerCall(2000, [&] { serve("blue moon|1|7"); });
  const double wild = MicrosPerCall(50, [&] { serve("*a*a*a*a*a*a*a*b|0|7"); });
  std::printf("shared rows: %d\n", rows);
  std::printf("walking the rows alone:                %9.1f us per pass\n", walk);
  std::printf("request matching nothing (whole walk): %9.1f us per request (%.1fx a bare walk)\n",
              none, none / walk);
  std::printf("request stopping at 25 results:        %9.1f us per request\n", many);
  std::printf("pathological wildcard request:         %9.1f us per request\n", wild);
  std::printf("(%zu)\n", sink % 10);
  std::filesystem::remove_all(home);
  return 0;
}
