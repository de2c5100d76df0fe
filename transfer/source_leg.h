#pragma once
// What the two halves of a download share: one source's connection while the download fetches
// ranges from several sources at once, and the digest's pacing.

#include <cstdint>
#include <memory>
#include <string>
#include <utility>

#include "transfer/download.h"

namespace zorvex {

// Files up to this size are digested on the loop as their bytes come; larger ones on the hashing
// service, which starts a round whenever this much is written but not yet digested.
inline constexpr std::int64_t kInlineDigestBytes = 8 << 20;
inline constexpr std::int64_t kDigestLagBytes = 4 << 20;

struct SourceLeg final : StreamHandler {
  SourceLeg(Download& owner, int leg_id, std::string peer)
      : download(owner), id(leg_id), address(std::move(peer)) {}

  void OnData(std::string_view bytes) override { download.LegData(*this, bytes); }
  void OnSent(std::size_t) override {}
  void OnClosed() override { download.LoseLeg(*this); }
  void OnFailed() override { download.LoseLeg(*this); }

  Download& download;
  const int id;  // its owner number in the range plan
  const std::string address;
  std::unique_ptr<StreamSocket> stream;  // null while the source is asked and not yet connected
  int ticks = 0;                         // since asked, or quiet ones in a row once connected
  std::int64_t bytes = 0;                // written from this connection
  std::int64_t last_tick_bytes = 0;
  PacketTuning tuning;
};

}  // namespace zorvex
