// A download that fetches different ranges of its file from several sources at once. Each source
// still gets one request and one connection at a time, exactly as from a download that uses one
// source: it is asked with "SearchDownload:", told where to start with "Start:", and left with
// "Close" once its range is in.

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "core/address.h"
#include "core/message_layer.h"
#include "share/format.h"
#include "transfer/source_leg.h"

namespace zorvex {

namespace {

// A connected source that brought less than this in each of this many ticks in a row has
// stalled; its range goes to another.
constexpr int kStallTicks = 10;
constexpr std::int64_t kStallTickBytes = 512;

bool WriteAt(int fd, std::string_view bytes, std::int64_t offset) {
  while (!bytes.empty()) {
    const ssize_t written = ::pwrite(fd, bytes.data(), bytes.size(), offset);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(written));
    offset += written;
  }
  return true;
}

}  // namespace

bool Download::LegAllows(const std::string& address) const {
  if (file_name_.empty() || saving_) return false;
  for (const auto& leg : legs_) {
    if (!leg->stream && SameText(leg->address, address)) return true;
  }
  return false;
}

SourceLeg* Download::FindLeg(int id) {
  for (auto& leg : legs_) {
    if (leg->id == id) return leg.get();
  }
  return nullptr;
}

std::optional<std::size_t> Download::FindSource(const std::string& address) const {
  for (std::size_t i = 0; i < sources_.size(); ++i) {
    if (SameText(sources_[i].address, address)) return i;
  }
  return std::nullopt;
}

std::size_t Download::AwaitedLegs() const {
  return static_cast<std::size_t>(
      std::count_if(legs_.begin(), legs_.end(), [](const auto& leg) { return !leg->stream; }));
}

void Download::AskLeg(std::size_t source) {
  sources_[source].use = "2";
  source_ip_ = sources_[source].address;
  legs_.push_back(std::make_unique<SourceLeg>(*this, next_leg_id_++, source_ip_));
  context_.messages.QueueMessage("SearchDownload:" + file_name_ + "|" +
                                     std::to_string(context_.prefs.DownloadPort) + "|" +
                                     context_.prefs.Nickname + "|" + file_hash_,
                                 source_ip_);
  context_.Changed();
}

void Download::FillLegs() {
  if (saving_ || searching_ || file_name_.empty()) return;
  // Before the first header the size is not confirmed: as many sources as allowed are asked.
  // Later no more than what is left can keep busy.
  while (legs_.size() < static_cast<std::size_t>(sources_at_once_) &&
         (!plan_ || AwaitedLegs() < plan_->Openings())) {
    const auto next = std::find_if(sources_.begin(), sources_.end(),
                                   [](const TransferSource& s) { return s.use == "0"; });
    if (next == sources_.end()) return;
    AskLeg(static_cast<std::size_t>(next - sources_.begin()));
  }
}

void Download::RemoveLeg(SourceLeg& leg) {
  context_.download_limiter.Forget(&leg);
  context_.Dispose(std::move(leg.stream));
  const auto it = std::find_if(legs_.begin(), legs_.end(),
                               [&leg](const auto& held) { return held.get() == &leg; });
  if (it == legs_.end()) return;
  // Freed once the callback it may be running in has returned.
  std::shared_ptr<SourceLeg> held(std::move(*it));
  legs_.erase(it);
  context_.runtime.Post([held] {});
}

void Download::ClearLegs() {
  while (!legs_.empty())
    RemoveLeg(*legs_.back());
}

void Download::StartLeg(std::unique_ptr<StreamSocket> stream, const TransferHeaderFields& header,
                        std::string rest) {
  const std::string peer = stream->PeerAddress();
  SourceLeg* leg = nullptr;
  for (auto& candidate : legs_) {
    if (!candidate->stream && SameText(candidate->address, peer)) leg = candidate.get();
  }
  const auto source = FindSource(peer);
  if (!leg || !source) {
    context_.Dispose(std::move(stream));
    return;
  }
  leg->stream = std::move(stream);
  leg->stream->SetHandler(leg);
  leg->ticks = 0;
  // Every source must announce the same file; the first one's size is the one fetched.
  if (!IsSafeTransferName(header.name) || header.size < 0 ||
      (plan_ && header.size != plan_->size())) {
    LoseLeg(*leg);
    return;
  }
  if (!plan_) {
    file_size_ = header.size;
    size_text_ = FormatFileSize(file_size_);
    file_name_ = header.name;
    if (TransferRow* row = Row()) row->file_name = file_name_;
    context_.DownloadsChanged();
    const auto offset = RestartFromTemporary();
    if (!offset) return;
    plan_.emplace(file_size_, *offset);
    saved_prefix_ = *offset;
  }
  receiving_ = true;
  awaiting_source_ = false;
  ShowStatus("Receiving...");
  if (plan_->Complete()) {
    leg->stream->Send(StartMessage(file_name_, file_size_));
    Complete();
    return;
  }
  const auto from = plan_->Assign(leg->id);
  if (!from) {
    FinishLeg(*leg);  // nothing left to hand out since it was asked
    return;
  }
  sources_[*source].use = "1";
  if (!leg->stream->Send(StartMessage(file_name_, *from))) {
    LoseLeg(*leg);
    return;
  }
  if (is_paused_) leg->stream->Send("Pause");
  if (!rest.empty()) LegData(*leg, rest);
}

void Download::LegData(SourceLeg& leg, std::string_view bytes) {
  RateLimiter& limiter = context_.download_limiter;
  limiter.Take(static_cast<std::int64_t>(bytes.size()));
  const int id = leg.id;
  if (plan_ && !saving_) WriteRange(leg, bytes);
  // The leg may be gone now; over the limit its reading stops until the bucket refills.
  SourceLeg* still = FindLeg(id);
  if (still && still->stream && limiter.Limited() && limiter.Available() <= 0) {
    still->stream->SetReadPaused(true);
    limiter.Wait(still, [this, id] {
      if (SourceLeg* waiting = FindLeg(id); waiting && waiting->stream) {
        waiting->stream->SetReadPaused(false);
      }
    });
  }
}

void Download::WriteRange(SourceLeg& leg, std::string_view bytes) {
  bool more = true;
  while (!bytes.empty() && more) {
    const auto slot = plan_->SlotOf(leg.id);
    if (!slot) {
      more = false;
      break;
    }
    // Bytes past the leg's range are the next range's, which another source fetches.
    const std::string_view part =
        bytes.substr(0, static_cast<std::size_t>(std::min<std::int64_t>(
                            slot->room, static_cast<std::int64_t>(bytes.size()))));
    if (!WriteAt(fd_, part, slot->at)) {
      SetStatus(true);
      return;
    }
    if (!catch_up_ && digest_.position() == slot->at && file_size_ <= kInlineDigestBytes) {
      digest_.Update(part);
    }
    leg.bytes += static_cast<std::int64_t>(part.size());
    more = plan_->Filled(leg.id, static_cast<std::int64_t>(part.size()));
    bytes.remove_prefix(part.size());
  }
  bytes_received_ = plan_->Held();
  write_offset_ = plan_->Prefix();
  if (plan_->Complete()) {
    Complete();
    return;
  }
  if (write_offset_ - digest_.position() >= kDigestLagBytes && !CatchUp()) return;
  if (!more) FinishLeg(leg);
}

void Download::FinishLeg(SourceLeg& leg) {
  const std::string address = leg.address;
  if (leg.stream) leg.stream->Send("Close");
  RemoveLeg(leg);
  // A source that finished its range is good: it takes over part of what is left.
  if (const auto source = FindSource(address)) {
    sources_[*source].use = "0";
    if (plan_ && AwaitedLegs() < plan_->Openings()) AskLeg(*source);
  }
  FillLegs();
}

void Download::LoseLeg(SourceLeg& leg) {
  if (saving_) return;
  if (plan_) plan_->Release(leg.id);
  if (leg.stream) leg.stream->Send("Close");
  if (const auto source = FindSource(leg.address)) sources_[*source].use = "-1";
  RemoveLeg(leg);
  FillLegs();
  if (legs_.empty() && !searching_ && !saving_ && !file_name_.empty()) SourceFindMore();
  context_.Changed();
}

void Download::PauseLegs() {
  bool sent = false;
  for (auto& leg : legs_) {
    if (leg->stream && leg->stream->Send("Pause")) sent = true;
  }
  if (!sent) return;
  is_paused_ = !is_paused_;
  ShowStatus(is_paused_ ? "Paused" : "Receiving...");
}

void Download::TickRanges() {
  if (searching_ && ++wait_ticks_ >= kSourceWaitTicks) {
    searching_ = false;
    restored_pass_ = false;
    ShowStatus("Receiving...");
    FillLegs();
    if (legs_.empty()) {
      SetStatus(true);
      return;
    }
  }
  // Sources that do not connect in time, and connections that stall, are given up.
  std::vector<int> lost;
  for (auto& leg : legs_) {
    ++leg->ticks;
    if (!leg->stream) {
      if (leg->ticks >= kSourceWaitTicks) lost.push_back(leg->id);
      continue;
    }
    const std::int64_t moved = leg->bytes - leg->last_tick_bytes;
    leg->last_tick_bytes = leg->bytes;
    // Under a download limit the legs share what may be a small rate: only silence counts.
    const std::int64_t least = context_.download_limiter.Limited() ? 1 : kStallTickBytes;
    if (is_paused_ || moved >= least) leg->ticks = 0;
    if (is_paused_) continue;
    const auto size = leg->tuning.Tick(RoundHalfEven(moved * 100, 1024));
    if (size) leg->stream->Send(PacketMessage(*size));
    if (leg->ticks >= kStallTicks) lost.push_back(leg->id);
  }
  for (const int id : lost) {
    if (SourceLeg* leg = FindLeg(id)) LoseLeg(*leg);
  }
  if (file_name_.empty()) return;  // the download ended meanwhile
  FillLegs();
  // The list keeps how much of the file is whole, for a restart.
  if (plan_ && plan_->Prefix() != saved_prefix_) {
    saved_prefix_ = plan_->Prefix();
    context_.DownloadsChanged();
  }
  ShowProgress(RoundHalfEven((bytes_received_ - last_tick_bytes_) * 100, 1024));
}

}  // namespace zorvex
