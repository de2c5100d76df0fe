#pragma once
// Finding first neighbours: one-shot timer `tmrConnect` that offers a connection to every host
// cache slot, then to every address listed on each stored gateway's page.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/life_token.h"
#include "core/runtime.h"
#include "core/status.h"
#include "settings/preferences.h"

namespace zorvex {

class PeerTable;

// A gateway page listing more than this many addresses is read only this far.
inline constexpr std::size_t kMaxGatewayEntries = 256;

// The pieces of a gateway page: the lowered body split at "<br>", each piece that a "<br>"
// follows, in page order with its number; the piece after the last "<br>" is not one.
struct GatewayEntry {
  std::size_t index;
  std::string address;
};
std::vector<GatewayEntry> ParseGatewayPage(std::string_view body, std::size_t* separators);

class Bootstrap {
 public:
  Bootstrap(Runtime& runtime, PeerTable& peers, Preferences& prefs, StatusModel& status);
  ~Bootstrap();

  // Schedules a bootstrap after `delay_ms` (1000 below 1) when none is scheduled or running and
  // the node has no neighbour.
  void StartConnecting(std::int64_t delay_ms);
  // Cancels a scheduled or running bootstrap.
  void Stop();
  // The timer's tag: true from scheduling until the last gateway is done.
  bool busy() const { return busy_; }
  bool timer_active() const;

  // Runs when a bootstrap ends (the folder scan is armed then when nothing is shared).
  void SetOnIdle(std::function<void()> callback) { on_idle_ = std::move(callback); }

  // The timer's tick; public so tests can drive it.
  void Tick();

 private:
  void FetchGateway(std::size_t index);
  void GatewayArrived(std::size_t index, const std::string& body);
  void Finish();

  Runtime& runtime_;
  PeerTable& peers_;
  Preferences& prefs_;
  StatusModel& status_;
  std::unique_ptr<Timer> timer_;
  std::unique_ptr<PendingRequest> request_;
  std::vector<Gateway> gateways_;
  bool busy_ = false;
  std::function<void()> on_idle_;
  LifeToken life_;
};

}  // namespace zorvex
