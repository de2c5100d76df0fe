#include "network/bootstrap.h"

#include "core/address.h"
#include "network/peer_table.h"

namespace zorvex {

std::vector<GatewayEntry> ParseGatewayPage(std::string_view body, std::size_t* separators) {
  const std::string lowered = LowerCase(body);
  std::vector<GatewayEntry> entries;
  std::size_t count = 0;
  std::size_t pos = 0;
  while (true) {
    const auto br = lowered.find("<br>", pos);
    if (br == std::string::npos) break;
    if (entries.size() < kMaxGatewayEntries)
      entries.push_back({count, lowered.substr(pos, br - pos)});
    ++count;
    pos = br + 4;
  }
  if (separators) *separators = count;
  return entries;
}

Bootstrap::Bootstrap(Runtime& runtime, PeerTable& peers, Preferences& prefs, StatusModel& status)
    : runtime_(runtime),
      peers_(peers),
      prefs_(prefs),
      status_(status),
      timer_(runtime.CreateTimer(TimerKind::kSingleShot, [this] { Tick(); })) {}

Bootstrap::~Bootstrap() = default;

bool Bootstrap::timer_active() const {
  return timer_->IsActive();
}

void Bootstrap::StartConnecting(std::int64_t delay_ms) {
  if (timer_->IsActive() || busy_ || peers_.size() != 0) return;
  busy_ = true;
  timer_->Start(delay_ms < 1 ? 1000 : delay_ms);
}

void Bootstrap::Stop() {
  timer_->Stop();
  request_.reset();
  busy_ = false;
}

void Bootstrap::Tick() {
  timer_->Stop();
  if (prefs_.Nickname.empty()) {
    // Nothing was offered, so the progress bar is left as it stands.
    busy_ = false;
    if (on_idle_) on_idle_();
    return;
  }
  busy_ = true;
  status_.SetProgressMaximum(static_cast<int>(kHostCacheSavedSlots));
  for (std::size_t slot = 0; slot < kHostCacheSavedSlots; ++slot) {
    if (!prefs_.HostCache[slot].empty()) peers_.SendConnectNew(prefs_.HostCache[slot]);
    status_.SetStatus("Cache Connection: " + std::to_string(slot + 1));
    status_.SetProgress(static_cast<int>(slot + 1));
  }
  gateways_ = ParseGatewayList(prefs_.GatewayList);
  FetchGateway(0);
}

void Bootstrap::FetchGateway(std::size_t index) {
  if (index >= gateways_.size()) {
    Finish();
    return;
  }
  status_.SetStatus("Connecting to Gateway...");
  request_ = runtime_.HttpGet(gateways_[index].address,
                              [this, index](std::string body) { GatewayArrived(index, body); });
}

void Bootstrap::GatewayArrived(std::size_t index, const std::string& body) {
  if (body.empty()) {
    status_.SetStatus("Could Not Establish Gateway Connection!");
  } else {
    std::size_t separators = 0;
    const auto entries = ParseGatewayPage(body, &separators);
    status_.SetProgressMaximum(static_cast<int>(separators));
    for (const auto& entry : entries) {
      // Only addresses can be offered a connection; anything else on the page is skipped.
      if (!entry.address.empty() && IsHostAddress(entry.address)) {
        peers_.SendConnectNew(entry.address);
      }
      status_.SetStatus("Gateway Connection: " + std::to_string(entry.index + 1));
      status_.SetProgress(static_cast<int>(entry.index + 1));
    }
  }
  // The next request replaces this one, so it starts once this callback has returned.
  runtime_.Post([this, alive = life_.Watch(), index] {
    if (!alive.expired()) FetchGateway(index + 1);
  });
}

void Bootstrap::Finish() {
  request_.reset();
  status_.SetProgress(0);
  busy_ = false;
  if (on_idle_) on_idle_();
}

}  // namespace zorvex
