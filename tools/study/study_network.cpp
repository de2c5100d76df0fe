#include "tools/study/study_network.h"

#include <algorithm>
#include <utility>

#include "settings/preferences.h"

namespace zorvex::study {
namespace {

std::string AddressOf(int n) {
  return "10." + std::to_string(n / 65536) + "." + std::to_string(n / 256 % 256) + "." +
         std::to_string(n % 256);
}

std::vector<std::string> PageEntries(const std::string& page) {
  std::vector<std::string> entries;
  for (std::size_t at = 0, br; (br = page.find("<br>", at)) != std::string::npos; at = br + 4)
    entries.push_back(page.substr(at, br - at));
  return entries;
}

double Uniform(std::mt19937_64& random) {
  return std::uniform_real_distribution<double>(0, 1)(random);
}

}  // namespace

std::size_t Draw(std::mt19937_64& random, std::size_t count) {
  return std::uniform_int_distribution<std::size_t>(0, count - 1)(random);
}

StudyNetwork::StudyNetwork(const StudyConfig& config, std::filesystem::path scratch)
    : config_(config), scratch_(std::move(scratch)), world_(config.seed), random_(config.seed) {
  world_.SetDefaultLink({config.latency_ms, config.jitter_ms, config.loss});
  std::filesystem::create_directories(scratch_ / "downloads");
  gateway_logs_.resize(static_cast<std::size_t>(config.gateways));
}

StudyNetwork::~StudyNetwork() {
  // Nodes go before their hosts, and all before the world.
  for (auto& member : members_)
    member->node.reset();
  members_.clear();
}

std::string StudyNetwork::GatewayUrl(std::size_t index) const {
  return "http://gw" + std::to_string(index + 1) + ".sim/gateway.php";
}

std::string StudyNetwork::GatewayList() const {
  std::string list;
  for (std::size_t i = 0; i < static_cast<std::size_t>(config_.gateways); ++i)
    list += "Gateway" + std::to_string(i + 1) + "*" + GatewayUrl(i) + "|";
  return list;
}

void StudyNetwork::ServeGateway(std::size_t index) {
  Node* node = members_[index]->node.get();
  gateway_logs_[index].address = members_[index]->address;
  world_.ServeHttp(GatewayUrl(index), [this, node, index] {
    std::vector<std::string> entries = PageEntries(node->GatewayPage());
    if (config_.gateway_page_limit > 0) {
      std::shuffle(entries.begin(), entries.end(), random_);
      entries.resize(std::min(entries.size(), std::size_t(config_.gateway_page_limit)));
    }
    std::string page;
    for (const auto& entry : entries)
      page += entry + "<br>";
    GatewayLog& log = gateway_logs_[index];
    ++log.requests;
    log.bytes += page.size();
    log.entries = entries.size();
    return page;
  });
}

Member& StudyNetwork::Join() {
  const int number = next_number_++;
  auto member = std::make_unique<Member>();
  member->address = AddressOf(number);
  member->host = world_.CreateHost(member->address);
  member->joined_ms = world_.NowMs();
  // Each node has a program folder of its own, as it would on its own machine.
  const std::filesystem::path home = scratch_ / "homes" / member->address;
  std::filesystem::create_directories(home);
  member->node = std::make_unique<Node>(*member->host,
                                        NodeOptions{.home = home,
                                                    .walk_hops_percent = config_.walk_hops_percent,
                                                    .ask_limit = config_.ask_limit});
  Node& node = *member->node;
  node.BindMessageSocket();
  Preferences& prefs = node.preferences();
  prefs.MyIP = member->address;
  prefs.Nickname = "node" + std::to_string(number);
  prefs.Connection = static_cast<std::int16_t>(Draw(random_, 10));
  prefs.MaxConnections = config_.max_connections > 0
                             ? static_cast<std::int16_t>(config_.max_connections)
                             : MaxConnectionsFor(prefs.Connection);
  prefs.GatewayList = GatewayList();
  prefs.DLDir = (scratch_ / "downloads").string() + "/";
  if (!saved_caches_.empty() && Uniform(random_) < config_.returning_share) {
    const std::size_t pick = Draw(random_, saved_caches_.size());
    prefs.HostCache = std::move(saved_caches_[pick]);
    saved_caches_[pick] = std::move(saved_caches_.back());
    saved_caches_.pop_back();
  }
  node.Run();

  const std::size_t index = members_.size();
  member->gateway = index < static_cast<std::size_t>(config_.gateways);
  index_[member->address] = index;
  members_.push_back(std::move(member));
  if (members_[index]->gateway) ServeGateway(index);
  ++joins_;
  return *members_[index];
}

void StudyNetwork::Leave(std::size_t index) {
  Member& member = *members_[index];
  saved_caches_.push_back(member.node->preferences().HostCache);
  if (Uniform(random_) < config_.graceful_share) member.node->Exit({});
  member.node.reset();
  member.host.reset();
  index_.erase(member.address);
  if (index != members_.size() - 1) {
    members_[index] = std::move(members_.back());
    index_[members_[index]->address] = index;
  }
  members_.pop_back();
  ++leaves_;
}

std::vector<std::string> StudyNetwork::Churn(double seconds) {
  std::vector<std::string> joined;
  churn_owed_ += config_.churn_per_minute * static_cast<double>(members_.size()) * seconds / 60;
  while (churn_owed_ >= 1) {
    // A member free to leave; when a few draws find none, the leave waits for the next call.
    std::size_t pick = members_.size();
    for (int attempt = 0; attempt < 16 && pick == members_.size(); ++attempt) {
      const std::size_t draw = Draw(random_, members_.size());
      if (!members_[draw]->gateway && !members_[draw]->busy) pick = draw;
    }
    if (pick == members_.size()) break;
    churn_owed_ -= 1;
    Leave(pick);
    joined.push_back(Join().address);
  }
  return joined;
}

Member* StudyNetwork::Find(const std::string& address) {
  const auto found = index_.find(address);
  return found == index_.end() ? nullptr : members_[found->second].get();
}

}  // namespace zorvex::study
