#pragma once
// The neighbour table and the connection protocol: offers ("ConnectNew:" answered by
// "ConnectEst:"), the random walk that asks for more neighbours ("ConnectRqr:"), the rule that a
// full node still makes room for a node with no neighbour at all, self-detection, leaving, and
// the host cache of fast peers that the bootstrap tries first.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "core/random.h"
#include "settings/preferences.h"

namespace zorvex {

class MessageLayer;

// A request arriving with more hops than this is treated as carrying this many: a walk never
// needs more than a full table's worth.
inline constexpr int kMaxRequestHops = 16;
// The hop count of the request a full node sends on behalf of a newcomer.
inline constexpr int kNewcomerHops = 10;

struct Neighbour {
  std::string address;
  bool confirmed = true;  // liveness mark: confirmed, or pending since the last sweep
};

// What the node says about itself in an offer, besides nickname and speed.
struct OfferFacts {
  int shared_files = 0;
  std::string shared_size_text = "0 Bytes";
};

class PeerTable {
 public:
  PeerTable(MessageLayer& messages, Preferences& prefs, RandomSource& random);

  void SetOfferFacts(std::function<OfferFacts()> facts) { facts_ = std::move(facts); }
  // Runs after a neighbour was added (the liveness timer starts then).
  void SetOnNeighbourAdded(std::function<void()> callback) { on_added_ = std::move(callback); }
  // Runs after rows were added, removed or re-marked (for views).
  void SetOnChanged(std::function<void()> callback) { on_changed_ = std::move(callback); }
  // Scales every hop count of the connection walk (the requests it starts and the cap on those
  // it receives) to this percentage. Only network studies set it; see NodeOptions.
  void SetWalkHopsPercent(int percent) { walk_hops_percent_ = percent; }

  bool IsPeerOrSelf(std::string_view address) const;
  void SendConnectNew(std::string_view address);
  void AcceptPeer(const std::string& sender, std::string_view payload, bool is_new);
  void HandleConnectRqr(const std::string& sender, std::string_view payload);
  void FindMorePeers();
  // Removes the neighbour and reacts to the loss; false when it was not a neighbour.
  bool DropPeer(std::string_view address, bool find_more);
  void RemovePeer(std::string_view address);
  void CacheHost(std::string_view address);

  // Marks the neighbour confirmed; false when it is not one.
  bool Confirm(std::string_view address);
  void SetPending(std::string_view address);

  const std::vector<Neighbour>& rows() const { return rows_; }
  std::size_t size() const { return rows_.size(); }
  bool full() const;
  // Every neighbour's address followed by "|", in table order.
  const std::string& NeighbourList() const { return neighbour_list_; }
  bool connected() const { return connected_; }
  int strength() const { return strength_; }

  // The offer payload: nickname|speed|files|size|version|neighbours.
  std::string OfferFields() const;

 private:
  std::size_t RandomRow();
  // A protocol hop count scaled by the walk's percentage, rounded to the nearest whole number.
  int ScaledHops(int hops) const;
  void AddRow(const std::string& address);
  void UpdatePeerSummary();

  MessageLayer& messages_;
  Preferences& prefs_;
  RandomSource& random_;
  std::function<OfferFacts()> facts_;
  std::function<void()> on_added_;
  std::function<void()> on_changed_;
  std::vector<Neighbour> rows_;
  std::string neighbour_list_;
  bool connected_ = false;
  int strength_ = 0;
  int walk_hops_percent_ = 100;
};

// m + m/3 rounded: the hops of a request for m missing neighbours.
int HopsForMissing(int missing);

}  // namespace zorvex
