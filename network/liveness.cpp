#include "network/liveness.h"

#include <vector>

#include "core/message_layer.h"
#include "network/bootstrap.h"
#include "network/peer_table.h"

namespace zorvex {

Liveness::Liveness(Runtime& runtime, PeerTable& peers, MessageLayer& messages, Bootstrap& bootstrap)
    : peers_(peers),
      messages_(messages),
      bootstrap_(bootstrap),
      timer_(runtime.CreateTimer(TimerKind::kRepeating, [this] { Tick(); })) {}

Liveness::~Liveness() = default;

void Liveness::EnsureRunning() {
  if (!timer_->IsActive()) timer_->Start(kLivenessIntervalMs);
}

bool Liveness::running() const {
  return timer_->IsActive();
}

void Liveness::Stop() {
  timer_->Stop();
}

void Liveness::AnswerPing(const std::string& sender) {
  if (!peers_.IsPeerOrSelf(sender)) return;
  messages_.QueueMessage("Pong+", sender);
  ConfirmPeer(sender);
}

void Liveness::ConfirmPeer(const std::string& sender) {
  peers_.Confirm(sender);
}

void Liveness::PingPendingPeers() {
  for (const auto& row : peers_.rows()) {
    if (!row.confirmed) messages_.QueueMessage("Ping+", row.address);
  }
}

void Liveness::SweepPeers() {
  // Every row present when the sweep starts is looked at once, even as rows go.
  const std::vector<Neighbour> snapshot = peers_.rows();
  for (const auto& row : snapshot) {
    if (!row.confirmed) {
      messages_.QueueMessage("ConnectDisconnect", row.address);
      peers_.DropPeer(row.address, false);
    } else {
      peers_.SetPending(row.address);
    }
  }
  if (!peers_.full()) peers_.FindMorePeers();
}

void Liveness::Tick() {
  ++counter_;
  if (hooks_.every_tick) hooks_.every_tick();
  if (counter_ == kPingTick) {
    PingPendingPeers();
    if (hooks_.probe) hooks_.probe();
  } else if (counter_ >= kSweepTick) {
    SweepPeers();
    if (hooks_.sweep) hooks_.sweep();
    counter_ = 0;
    if (!peers_.full()) {
      if (peers_.size() == 0) bootstrap_.StartConnecting(1000);
      peers_.FindMorePeers();
    }
  }
}

}  // namespace zorvex
