// Messages per second through the whole datagram path: queue, cipher, simulated wire, incoming
// queue, decipher, dispatcher and handler. Node A sends "Ping-" to B, which answers "Pong-";
// every message counts once.

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "core/message_layer.h"
#include "node/node.h"
#include "platform/sim/sim_world.h"

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::atoi(argv[1]) : 200;
  const int burst = 1000;
  const auto home = std::filesystem::temp_directory_path() / "zorvex-message-bench";
  std::filesystem::create_directories(home);

  zorvex::SimWorld world(1);
  world.SetDefaultLink({1, 0, 0});
  auto host_a = world.CreateHost("10.0.0.1");
  auto host_b = world.CreateHost("10.0.0.2");
  zorvex::Node a(*host_a, {home, {}, {}});
  zorvex::Node b(*host_b, {home, {}, {}});
  for (zorvex::Node* node : {&a, &b}) {
    node->BindMessageSocket();
    node->preferences().MyIP = node == &a ? "10.0.0.1" : "10.0.0.2";
    node->preferences().Nickname = "bench";
  }

  const auto start = std::chrono::steady_clock::now();
  for (int round = 0; round < rounds; ++round) {
    for (int i = 0; i < burst; ++i)
      a.messages().QueueMessage("Ping-", "10.0.0.2");
    world.RunFor(1000);  // a few queue ticks: out, across, answered, back
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

  const auto& ca = a.messages().counters();
  const auto& cb = b.messages().counters();
  const double handled = static_cast<double>(cb.in) + static_cast<double>(ca.in);
  std::printf("messages: %u sent by A, %u handled by B, %u answers handled by A\n", ca.out, cb.in,
              ca.in);
  std::printf("wall time: %.3f s, %.0f messages per second (target: at least 50000) -> %s\n",
              seconds, handled / seconds, handled / seconds >= 50000 ? "met" : "NOT met");
  std::filesystem::remove_all(home);
  return cb.in == static_cast<std::uint32_t>(rounds * burst) && ca.in == cb.in ? 0 : 1;
}
