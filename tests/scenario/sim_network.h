#pragma once
// A network of nodes on the simulated platform, each with its own program folder.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "node/node.h"
#include "platform/sim/sim_world.h"
#include "support/temp_dir.h"
#include "transfer/transfers.h"

namespace zorvex::testing {

inline constexpr char kGatewayUrl[] = "http://gateway.sim/gateway.php";

struct SimNode {
  std::unique_ptr<SimHost> host;
  std::unique_ptr<TempDir> home;
  std::unique_ptr<Node> node;
  int connection = 3;
  int number = 0;
};

class SimNetwork {
 public:
  explicit SimNetwork(std::uint64_t seed) : world(seed) {}

  // Adds a node at 10.<a>.<b>.<c> numbered from 1, configured and running.
  Node& AddNode(int connection = 3) {
    const int n = static_cast<int>(nodes.size()) + 1;
    const std::string address = "10." + std::to_string(n / 65536) + "." +
                                std::to_string(n / 256 % 256) + "." + std::to_string(n % 256);
    SimNode entry;
    entry.host = world.CreateHost(address);
    entry.home = std::make_unique<TempDir>();
    entry.connection = connection;
    entry.number = n;
    nodes.push_back(std::move(entry));
    return StartNode(nodes.back());
  }

  // `count` nodes, the i-th of connection speed `speed(i)`, bootstrapping for `ms` from a gateway
  // that lists whatever the first node knows, like a community gateway would.
  void Bootstrap(int count, const std::function<int(int)>& speed, std::int64_t ms) {
    for (int i = 0; i < count; ++i)
      AddNode(speed(i));
    world.ServeHttp(kGatewayUrl, [this] { return (*this)[0].GatewayPage(); });
    world.RunFor(ms);
  }

  // The node's program stops (its sockets vanish without a word) and starts again on the same
  // host and program folder.
  Node& RestartNode(std::size_t i) {
    nodes[i].node.reset();
    return StartNode(nodes[i]);
  }

  Node& operator[](std::size_t i) { return *nodes[i].node; }
  const std::string& Address(std::size_t i) const { return nodes[i].host->Address(); }

  SimWorld world;
  std::vector<SimNode> nodes;

 private:
  Node& StartNode(SimNode& entry) {
    entry.node = std::make_unique<Node>(*entry.host, NodeOptions{.home = entry.home->path()});
    Node& node = *entry.node;
    node.BindMessageSocket();
    node.LoadPreferences();
    Preferences& prefs = node.preferences();
    prefs.Nickname = "node" + std::to_string(entry.number);
    prefs.Connection = static_cast<std::int16_t>(entry.connection);
    prefs.MaxConnections = MaxConnectionsFor(prefs.Connection);
    prefs.DLDir = entry.home->path().string() + "/";
    prefs.GatewayList = std::string("Main*") + kGatewayUrl + "|";
    // The first-run defaults.
    prefs.DownloadPort = 5503;
    prefs.MaxULs = 3;
    prefs.MaxULUsers = 1;
    node.transfers().StartDownloadListener();
    node.Run();
    return node;
  }
};

}  // namespace zorvex::testing
