#pragma once
// The simulated network of a study run: real nodes on one SimWorld, the gateway pages they
// bootstrap from, and churn (nodes joining at fresh addresses, leaving with or without a goodbye).

#include <array>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <unordered_map>
#include <vector>

#include "node/node.h"
#include "platform/sim/sim_world.h"
#include "tools/study/study_config.h"

namespace zorvex::study {

struct Member {
  std::unique_ptr<SimHost> host;
  std::unique_ptr<Node> node;
  std::string address;
  std::int64_t joined_ms = 0;
  bool gateway = false;  // serves a gateway page; never leaves
  bool busy = false;     // taking part in a probe; does not leave until it ends
};

// Requests and bytes a gateway page served.
struct GatewayLog {
  std::string address;  // of the node whose page it is
  std::uint64_t requests = 0;
  std::uint64_t bytes = 0;
  std::size_t entries = 0;  // addresses on the page most recently served
};

class StudyNetwork {
 public:
  StudyNetwork(const StudyConfig& config, std::filesystem::path scratch);
  ~StudyNetwork();

  SimWorld& world() { return world_; }
  std::mt19937_64& random() { return random_; }

  // A new node at a fresh address, running; the first `gateways` joiners serve the pages.
  Member& Join();
  // The member at `index` leaves: a graceful one says goodbye to its neighbours first.
  void Leave(std::size_t index);
  // Lets the churn of `seconds` happen: leavers drawn at random among those that may leave,
  // each replaced by a joiner. Returns the addresses of the joiners.
  std::vector<std::string> Churn(double seconds);

  std::size_t size() const { return members_.size(); }
  Member& operator[](std::size_t index) { return *members_[index]; }
  // The member at this address, or null when none is online there.
  Member* Find(const std::string& address);
  const std::vector<GatewayLog>& gateway_logs() const { return gateway_logs_; }
  std::uint64_t joins() const { return joins_; }
  std::uint64_t leaves() const { return leaves_; }

 private:
  void ServeGateway(std::size_t index);
  std::string GatewayUrl(std::size_t index) const;
  std::string GatewayList() const;

  const StudyConfig& config_;
  std::filesystem::path scratch_;
  SimWorld world_;
  std::mt19937_64 random_;
  std::vector<std::unique_ptr<Member>> members_;
  std::unordered_map<std::string, std::size_t> index_;
  std::vector<std::array<std::string, kHostCacheSlots>> saved_caches_;
  std::vector<GatewayLog> gateway_logs_;
  int next_number_ = 1;
  double churn_owed_ = 0;
  std::uint64_t joins_ = 0;
  std::uint64_t leaves_ = 0;
};

// A uniform index below `count`, drawn from the study's own generator.
std::size_t Draw(std::mt19937_64& random, std::size_t count);

}  // namespace zorvex::study
