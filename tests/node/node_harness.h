#pragma once
// One node on a FakeRuntime, with helpers to feed it messages and read what it sends.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "core/message_layer.h"
#include "network/bootstrap.h"
#include "network/liveness.h"
#include "network/peer_table.h"
#include "node/node.h"
#include "support/fake_runtime.h"
#include "support/temp_dir.h"

namespace zorvex::testing {

class NodeHarness {
 public:
  NodeHarness() : node(runtime, NodeOptions{.home = home.path()}) {
    Preferences& prefs = node.preferences();
    prefs.Nickname = "Alice";
    prefs.MyIP = "10.0.0.1";
    prefs.Connection = 3;
    prefs.MaxConnections = 8;
  }

  // Delivers a message from `sender` and runs one queue tick.
  std::vector<SentDatagram> Receive(std::string_view message, const std::string& sender) {
    runtime.Deliver(message, sender);
    return Flush();
  }
  std::vector<SentDatagram> Flush() {
    node.messages().Tick();
    return runtime.TakeSent();
  }
  // Runs the liveness sweep's one-second tick `count` times.
  void Ticks(int count) {
    for (int i = 0; i < count; ++i)
      node.liveness().Tick();
  }
  // Makes each address a neighbour through an acceptance, discarding what that sends.
  void AddNeighbours(const std::vector<std::string>& addresses) {
    for (const auto& address : addresses)
      Receive("ConnectEst:Peer|3|1|0 Bytes|1.2.1|1", address);
  }

  FakeRuntime runtime;
  TempDir home;
  Node node;
};

// A fixture holding one harness, for suites whose every test starts from a fresh node.
class NodeFixture : public ::testing::Test {
 protected:
  NodeHarness h;
};

using Sent = std::vector<std::string>;

// Each datagram as "message -> address".
inline std::vector<std::string> Messages(const std::vector<SentDatagram>& sent) {
  std::vector<std::string> out;
  for (const auto& d : sent)
    out.push_back(d.message + " -> " + d.address);
  return out;
}

// The words of `text` between single spaces, for long tables of short strings.
inline std::vector<std::string> Words(std::string_view text) {
  std::vector<std::string> out;
  for (std::size_t at = 0; at <= text.size();) {
    const std::size_t end = std::min(text.find(' ', at), text.size());
    out.emplace_back(text.substr(at, end - at));
    at = end + 1;
  }
  return out;
}

}  // namespace zorvex::testing
