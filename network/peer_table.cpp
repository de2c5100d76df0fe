#include "network/peer_table.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <optional>

#include "core/address.h"
#include "core/fields.h"
#include "core/message_layer.h"
#include "core/string_builder.h"
#include "core/version.h"

namespace zorvex {

int HopsForMissing(int missing) {
  return static_cast<int>(std::lround(missing + missing / 3.0));
}

PeerTable::PeerTable(MessageLayer& messages, Preferences& prefs, RandomSource& random)
    : messages_(messages), prefs_(prefs), random_(random) {}

bool PeerTable::full() const {
  return rows_.size() >= static_cast<std::size_t>(std::max<int>(prefs_.MaxConnections, 0));
}

bool PeerTable::IsPeerOrSelf(std::string_view address) const {
  if (SameText(address, prefs_.MyIP) || SameText(address, "127.0.0.1")) return true;
  for (const auto& row : rows_) {
    if (SameText(row.address, address)) return true;
  }
  return false;
}

std::string PeerTable::OfferFields() const {
  const OfferFacts facts = facts_ ? facts_() : OfferFacts{};
  return prefs_.Nickname + "|" + std::to_string(prefs_.Connection) + "|" +
         std::to_string(facts.shared_files) + "|" + facts.shared_size_text + "|" +
         std::string(kVersion) + "|" + std::to_string(rows_.size());
}

void PeerTable::SendConnectNew(std::string_view address) {
  if (!IsHostAddress(address) || IsPeerOrSelf(address)) return;
  messages_.QueueMessage("ConnectNew:" + OfferFields(), address);
}

int PeerTable::ScaledHops(int hops) const {
  return (hops * walk_hops_percent_ + 50) / 100;
}

std::size_t PeerTable::RandomRow() {
  return static_cast<std::size_t>(RandomInRange(static_cast<int>(rows_.size()), 1, random_) - 1);
}

void PeerTable::AcceptPeer(const std::string& sender, std::string_view payload, bool is_new) {
  if (SameText(sender, prefs_.MyIP) || SameText(sender, "127.0.0.1")) return;
  const auto fields = SplitFields(payload);
  if (fields.size() < 6) return;
  const auto speed = ParseDecimal<int>(fields[1]);
  const auto files = ParseDecimal<int>(fields[2]);
  const auto their_neighbours = ParseDecimal<int>(fields[5]);
  if (!speed || !files || !their_neighbours) return;

  if (full() || IsPeerOrSelf(sender)) {
    bool is_row = false;
    for (const auto& row : rows_)
      is_row = is_row || SameText(row.address, sender);
    if (*their_neighbours != 0 || is_row) return;
    // The table is full and the sender has no neighbour at all: make room, and ask the network
    // to offer it more.
    if (!rows_.empty()) {
      const std::string dropped = rows_[RandomRow()].address;
      DropPeer(dropped, true);
    }
    if (!rows_.empty()) {
      messages_.QueueMessage(
          "ConnectRqr:" + sender + "|" + std::to_string(ScaledHops(kNewcomerHops)),
          rows_[RandomRow()].address);
    }
  }
  if (IsPeerOrSelf(sender)) return;

  const OfferFacts own = facts_ ? facts_() : OfferFacts{};
  if (SameText(fields[0], prefs_.Nickname) && *files == own.shared_files &&
      *speed == prefs_.Connection) {
    // Our own offer came back under another address: that is how others see us.
    prefs_.MyIP = sender;
    return;
  }

  AddRow(sender);
  if (*speed >= 4) CacheHost(sender);
  if (is_new) messages_.QueueMessage("ConnectEst:" + OfferFields(), sender);
  connected_ = true;
  if (on_added_) on_added_();
  if (!full()) FindMorePeers();
}

void PeerTable::HandleConnectRqr(const std::string& sender, std::string_view payload) {
  const auto bar = payload.find('|');
  if (bar == std::string_view::npos) return;
  std::string host(payload.substr(0, bar));
  // A negative count is malformed; a huge one is read as the cap, so the count can never
  // overflow below.
  const auto hops = ParseDecimal<std::int64_t>(payload.substr(bar + 1));
  if (!hops || *hops < 0) return;
  const int h = static_cast<int>(std::min<std::int64_t>(*hops, ScaledHops(kMaxRequestHops))) - 1;
  if (host.empty()) host = sender;
  if (!IsHostAddress(host)) return;

  if (h >= 0 && !full() && !IsPeerOrSelf(host)) SendConnectNew(host);
  if (h > 0 && !rows_.empty()) {
    messages_.QueueMessage("ConnectRqr:" + host + "|" + std::to_string(h),
                           rows_[RandomRow()].address);
  }
}

void PeerTable::FindMorePeers() {
  const int missing = prefs_.MaxConnections - static_cast<int>(rows_.size());
  if (missing <= 0 || rows_.empty()) return;
  messages_.QueueMessage("ConnectRqr:|" + std::to_string(ScaledHops(HopsForMissing(missing))),
                         rows_[RandomRow()].address);
}

bool PeerTable::DropPeer(std::string_view address, bool find_more) {
  const std::size_t before = rows_.size();
  RemovePeer(address);
  if (rows_.size() == before) return false;
  if (find_more && !rows_.empty()) FindMorePeers();
  if (rows_.empty()) connected_ = false;
  return true;
}

void PeerTable::RemovePeer(std::string_view address) {
  std::erase_if(rows_, [&](const Neighbour& row) { return SameText(row.address, address); });
  UpdatePeerSummary();
}

void PeerTable::CacheHost(std::string_view address) {
  auto& cache = prefs_.HostCache;
  std::size_t filled = 0;
  for (std::size_t slot = 0; slot < kHostCacheSavedSlots; ++slot) {
    if (SameText(cache[slot], address)) return;
    if (!cache[slot].empty()) ++filled;
  }
  if (filled == kHostCacheSavedSlots) {
    cache[static_cast<std::size_t>(
        RandomInRange(static_cast<int>(kHostCacheSavedSlots), 0, random_))] = address;
    return;
  }
  for (std::size_t slot = 0; slot < kHostCacheSavedSlots; ++slot) {
    if (cache[slot].empty()) {
      cache[slot] = address;
      return;
    }
  }
}

bool PeerTable::Confirm(std::string_view address) {
  for (auto& row : rows_) {
    if (SameText(row.address, address)) {
      row.confirmed = true;
      if (on_changed_) on_changed_();
      return true;
    }
  }
  return false;
}

void PeerTable::SetPending(std::string_view address) {
  for (auto& row : rows_) {
    if (SameText(row.address, address)) row.confirmed = false;
  }
  if (on_changed_) on_changed_();
}

void PeerTable::AddRow(const std::string& address) {
  rows_.push_back({address, true});
  UpdatePeerSummary();
}

void PeerTable::UpdatePeerSummary() {
  StringBuilder list;
  for (const auto& row : rows_) {
    list.SConcat(row.address);
    list.SConcat("|");
  }
  neighbour_list_ = list.GetString();
  // A progress bar takes a whole number: halves go to the even neighbour.
  strength_ = prefs_.MaxConnections > 0
                  ? static_cast<int>(std::nearbyint(static_cast<double>(rows_.size()) * 100.0 /
                                                    prefs_.MaxConnections))
                  : 0;
  if (on_changed_) on_changed_();
}

}  // namespace zorvex
