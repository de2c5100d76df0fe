#pragma once
// Keep-alive of neighbours: the one-second timer `tmrTimeout` pings pending neighbours at tick
// 180 and sweeps at tick 210, dropping those still pending and marking the others pending.

#include <functional>
#include <memory>
#include <string>

#include "core/runtime.h"

namespace zorvex {

class Bootstrap;
class MessageLayer;
class PeerTable;

inline constexpr int kPingTick = 180;
inline constexpr int kSweepTick = 210;
inline constexpr std::int64_t kLivenessIntervalMs = 1000;

// Other subsystems paced by the same ticks.
struct LivenessHooks {
  std::function<void()> every_tick;  // the search time-out
  std::function<void()> probe;       // hot-list presence probe, at the ping tick
  std::function<void()> sweep;       // hot-list presence sweep, at the sweep tick
};

class Liveness {
 public:
  Liveness(Runtime& runtime, PeerTable& peers, MessageLayer& messages, Bootstrap& bootstrap);
  ~Liveness();

  void SetHooks(LivenessHooks hooks) { hooks_ = std::move(hooks); }

  // Starts the timer if it is not running; it then runs for the node's life.
  void EnsureRunning();
  bool running() const;
  void Stop();

  void AnswerPing(const std::string& sender);   // "Ping+"
  void ConfirmPeer(const std::string& sender);  // "Pong+"
  void PingPendingPeers();
  void SweepPeers();

  void Tick();
  int counter() const { return counter_; }

 private:
  PeerTable& peers_;
  MessageLayer& messages_;
  Bootstrap& bootstrap_;
  std::unique_ptr<Timer> timer_;
  LivenessHooks hooks_;
  int counter_ = 0;
};

}  // namespace zorvex
