// A large simulated network: nodes bootstrap from one gateway page and keep themselves alive for
// an hour of protocol time. Prints node-seconds simulated per wall second, how connected the
// network became, and what it cost in messages.

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <queue>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/message_layer.h"
#include "network/peer_table.h"
#include "node/node.h"
#include "platform/sim/sim_world.h"

namespace {

std::string AddressOf(int n) {
  return "10." + std::to_string(n / 65536) + "." + std::to_string(n / 256 % 256) + "." +
         std::to_string(n % 256);
}

// How many nodes the first one reaches over neighbour links.
std::size_t Reach(const std::vector<std::unique_ptr<zorvex::Node>>& nodes,
                  const std::unordered_map<std::string, std::size_t>& index) {
  std::vector<bool> seen(nodes.size(), false);
  std::queue<std::size_t> open;
  open.push(0);
  seen[0] = true;
  std::size_t count = 1;
  while (!open.empty()) {
    const auto i = open.front();
    open.pop();
    for (const auto& row : nodes[i]->peers().rows()) {
      const auto found = index.find(row.address);
      if (found == index.end() || seen[found->second]) continue;
      seen[found->second] = true;
      ++count;
      open.push(found->second);
    }
  }
  return count;
}

}  // namespace

int main(int argc, char** argv) {
  const int count = argc > 1 ? std::atoi(argv[1]) : 1000;
  const int minutes = argc > 2 ? std::atoi(argv[2]) : 60;
  const auto home = std::filesystem::temp_directory_path() / "zorvex-sim-bench";
  std::filesystem::create_directories(home);

  zorvex::SimWorld world(7);
  world.SetDefaultLink({40, 20, 0.01});
  std::vector<std::unique_ptr<zorvex::SimHost>> hosts;
  std::vector<std::unique_ptr<zorvex::Node>> nodes;
  std::unordered_map<std::string, std::size_t> index;
  for (int n = 1; n <= count; ++n) {
    hosts.push_back(world.CreateHost(AddressOf(n)));
    auto node = std::make_unique<zorvex::Node>(*hosts.back(), zorvex::NodeOptions{.home = home});
    node->BindMessageSocket();
    auto& prefs = node->preferences();
    prefs.MyIP = AddressOf(n);
    prefs.Nickname = "node" + std::to_string(n);
    prefs.Connection = static_cast<std::int16_t>(n % 10);
    prefs.MaxConnections = zorvex::MaxConnectionsFor(prefs.Connection);
    prefs.GatewayList = "Main*gateway.sim/gateway.php|";
    node->Run();
    index[AddressOf(n)] = nodes.size();
    nodes.push_back(std::move(node));
  }
  world.ServeHttp("gateway.sim/gateway.php", [&] { return nodes[0]->GatewayPage(); });

  const auto start = std::chrono::steady_clock::now();
  world.RunFor(static_cast<std::int64_t>(minutes) * 60 * 1000);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

  std::size_t links = 0;
  std::size_t lonely = 0;
  std::uint64_t messages = 0;
  for (const auto& node : nodes) {
    links += node->peers().size();
    lonely += node->peers().size() == 0;
    messages += node->messages().counters().out;
  }
  const double node_seconds = static_cast<double>(count) * minutes * 60;
  std::printf("%d nodes, %d minutes of protocol time in %.2f s of wall time\n", count, minutes,
              seconds);
  std::printf("node-seconds per wall second: %.0f\n", node_seconds / seconds);
  std::printf("neighbours per node: %.2f, nodes without neighbours: %zu, reach from node 1: %zu\n",
              static_cast<double>(links) / count, lonely, Reach(nodes, index));
  std::printf("messages sent: %llu (%.2f per node per minute), datagrams lost: %llu\n",
              static_cast<unsigned long long>(messages),
              static_cast<double>(messages) / count / minutes,
              static_cast<unsigned long long>(world.Stats().datagrams_lost));
  std::filesystem::remove_all(home);
  return 0;
}
