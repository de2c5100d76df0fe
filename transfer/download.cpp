#include "transfer/download.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <filesystem>
#include <system_error>

#include "core/address.h"
#include "core/message_layer.h"
#include "network/peer_table.h"
#include "share/format.h"
#include "share/paths.h"
#include "transfer/source_leg.h"

namespace zorvex {

namespace {

// Bytes written between two requests to the system to start writing them to disk.
constexpr std::int64_t kWritebackBytes = 8 << 20;

// Advertised rates in kilobytes a second; anything outside this range is not a rate.
constexpr double kMaxRate = 1e9;

std::optional<double> ParseRate(const std::string& text) {
  double value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc{} || end != text.data() + text.size() || !(value >= 0) ||
      value > kMaxRate) {
    return std::nullopt;
  }
  return value;
}

// Without an exponent: the smallest rate written out in full takes about 330 characters.
std::string ShortestDecimal(double value) {
  char buffer[512];
  const auto [end, error] =
      std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed);
  if (error != std::errc{}) return "0";
  return std::string(buffer, end);
}

}  // namespace

Download::Download(TransferContext& context, int id)
    : context_(context),
      id_(id),
      timer_(context.runtime.CreateTimer(TimerKind::kRepeating, [this] { Tick(); })) {}

Download::~Download() {
  context_.download_limiter.Forget(this);
  ClearLegs();
  CloseFile();
  CloseReader();
}

bool Download::InUse() const {
  return !source_ip_.empty() || searching_ || awaiting_source_ || receiving_ || saving_ ||
         timer_->IsActive();
}

void Download::RequestFile(const std::string& name, const std::string& hash, std::int32_t size,
                           const std::string& source) {
  ClearDownload();
  sources_at_once_ =
      std::clamp<int>(context_.prefs.SourcesAtOnce, kMinSourcesAtOnce, kMaxSourcesAtOnce);
  file_hash_ = hash;
  file_name_ = name;
  file_size_ = size;
  // The total is shown once the source's header has confirmed it.
  wait_ticks_ = 0;
  StartTimer();
  if (!source.empty() && !SourceSearchedAlready(source)) SourceSearchUser(source);
  SourceFindMore();
  context_.DownloadsChanged();
}

SavedDownload Download::ToSaved() const {
  SavedDownload saved{file_name_, file_size_, file_hash_, {}, whole_};
  if (plan_) saved.whole = plan_->Prefix();
  for (const auto& source : sources_) {
    if (saved.sources.size() >= kMaxSavedSources) break;
    saved.sources.push_back(source.address);
  }
  return saved;
}

void Download::Restored(const std::vector<std::string>& known_sources,
                        std::optional<std::int64_t> whole) {
  restored_pass_ = true;
  whole_ = whole;
  for (const auto& address : known_sources) {
    if (!SourceSearchedAlready(address)) SourceSearchUser(address);
  }
  if (TransferRow* row = Row()) row->restored = true;
}

void Download::NeighbourAdded() {
  if (!restored_pass_ || !searching_ || receiving_) return;
  for (const auto& row : context_.peers.rows()) {
    if (!SourceSearchedAlready(row.address)) SourceSearchUser(row.address);
  }
  wait_ticks_ = 0;
}

void Download::StartTimer() {
  if (!timer_->IsActive()) timer_->Start(kTickMs);
}

TransferRow* Download::Row() {
  return TransferContext::FindRow(context_.download_rows, id_);
}

void Download::ShowStatus(const std::string& text) {
  if (TransferRow* row = Row()) row->status = text;
  context_.Changed();
}

void Download::PauseMe() {
  if (Ranged()) {
    PauseLegs();
    return;
  }
  if (!reader_ || !reader_->Send("Pause")) return;
  is_paused_ = !is_paused_;
  ShowStatus(is_paused_ ? "Paused" : "Receiving...");
}

void Download::SetStatus(bool failed, bool cancelled) {
  if (TransferRow* row = Row()) ShowEnding(*row, failed, cancelled, size_text_);
  ClearDownload();
  if (context_.clear_downloads) context_.ClearRows(false, failed);
  context_.Changed();
}

void Download::ClearDownload() {
  file_size_ = 0;
  size_text_.clear();
  sources_.clear();
  CloseFile();
  ResetFile();
  CloseReader();
  context_.DownloadsChanged();
}

void Download::ResetFile() {
  file_name_.clear();
  source_ip_.clear();
  bytes_received_ = 0;
  is_paused_ = false;
  file_hash_.clear();
  temp_path_.clear();
  write_offset_ = 0;
  last_tick_bytes_ = 0;
  temp_length_ = 0;
  writeback_from_ = 0;
  receiving_ = false;
  awaiting_source_ = false;
  searching_ = false;
  saving_ = false;
  restored_pass_ = false;
  context_.download_limiter.Forget(this);
  ClearLegs();
  plan_.reset();
  whole_.reset();
  saved_prefix_ = 0;
  sources_at_once_ = 1;
  catch_up_.reset();
  digest_ = RunningDigest();
  wait_ticks_ = 0;
  searched_peers_.assign(1, std::string());
  searched_set_ = {std::string()};
  tuning_ = PacketTuning();
  timer_->Stop();
}

void Download::CloseFile() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

void Download::CloseReader() {
  context_.Dispose(std::move(reader_));
  reader_.reset();
}

// --- Sources ---

bool Download::SourceSearchedAlready(const std::string& address) const {
  return searched_set_.contains(LowerCase(address));
}

bool Download::SourceAddSearched(const std::string& address) {
  if (searched_peers_.size() > context_.source_ask_limit) return false;
  if (!searched_set_.insert(LowerCase(address)).second) return false;
  searched_peers_.push_back(address);
  return true;
}

void Download::SourceSearchUser(const std::string& address) {
  if (file_name_.empty() || address.empty()) return;
  if (!SourceAddSearched(address) && !SourceSearchedAlready(address)) return;
  context_.messages.QueueMessage(
      "SourceSearch:" + file_name_ + "|" + file_hash_ + "|" + std::to_string(file_size_), address);
}

void Download::SourceFindMore() {
  ShowStatus("Finding More Sources...");
  for (const auto& row : context_.peers.rows()) {
    if (!SourceSearchedAlready(row.address)) SourceSearchUser(row.address);
  }
  searching_ = true;
  if (!file_hash_.empty()) {
    wait_ticks_ = 0;
    StartTimer();
  }
}

void Download::SourceFound(const std::string& address, const std::string& hash,
                           const std::string& average, const std::string& best) {
  if (!SameText(hash, file_hash_) || sources_.size() >= kMaxSources) return;
  for (const auto& source : sources_) {
    if (source.address == address) return;
  }
  const auto average_value = ParseRate(average);
  const auto best_value = ParseRate(best);
  if (!average_value || !best_value) return;
  sources_.push_back({address, ShortestDecimal(*best_value), ShortestDecimal(*average_value), "0"});
  if (TransferRow* row = Row()) row->sources = std::to_string(sources_.size());
  context_.Changed();
  context_.DownloadsChanged();
}

bool Download::SourceIPAllow(const std::string& address) const {
  if (Ranged()) return LegAllows(address);
  if (file_name_.empty() || saving_) return false;
  if (SameText(address, source_ip_) && !receiving_) return true;
  if (!awaiting_source_) return false;
  for (const auto& source : sources_) {
    if (SameText(source.address, address) && source.use == "2") return true;
  }
  return false;
}

int Download::CurrentSource() const {
  for (std::size_t i = 0; i < sources_.size(); ++i) {
    if (sources_[i].use == "2" || sources_[i].use == "1") return static_cast<int>(i);
  }
  return -1;
}

void Download::SelectSource() {
  if (sources_.empty()) {
    SetStatus(true);
    return;
  }
  const int current = CurrentSource();
  if (current >= 0) {
    if (sources_[current].use == "1" && sources_.size() == 1) return;
    const auto rounded = [](const std::string& text) {
      const auto value = ParseRate(text);
      return value ? std::nearbyint(*value) : 0.0;
    };
    const double current_average = rounded(sources_[current].average);
    for (std::size_t i = 0; i < sources_.size(); ++i) {
      const auto& row = sources_[i];
      if (static_cast<int>(i) == current || row.use != "0") continue;
      if (rounded(row.average) > current_average || row.average == "0") {
        SwitchSource(static_cast<int>(i), current);
        return;
      }
    }
  } else {
    for (std::size_t i = 0; i < sources_.size(); ++i) {
      if (sources_[i].use == "0") {
        SwitchSource(static_cast<int>(i), -1);
        return;
      }
    }
  }
  if (!receiving_) SetStatus(true);
}

void Download::SwitchSource(int next, int previous) {
  if (next == previous) return;
  source_ip_ = sources_[next].address;
  awaiting_source_ = true;
  sources_[next].use = "2";
  if (previous >= 0) {
    ShowStatus("Switching...");
    if (reader_) reader_->Send("Close");
    CloseReader();
    sources_[previous].use = "-1";
  }
  receiving_ = false;
  context_.messages.QueueMessage("SearchDownload:" + file_name_ + "|" +
                                     std::to_string(context_.prefs.DownloadPort) + "|" +
                                     context_.prefs.Nickname + "|" + file_hash_,
                                 source_ip_);
  wait_ticks_ = 0;
  StartTimer();
  context_.Changed();
}

void Download::LoseSource() {
  const int current = CurrentSource();
  if (current >= 0) sources_[current].use = "-1";
  SourceFindMore();
}

// --- The connection ---

void Download::StartReceive(std::unique_ptr<StreamSocket> stream,
                            const TransferHeaderFields& header, std::string rest) {
  if (Ranged()) {
    StartLeg(std::move(stream), header, std::move(rest));
    return;
  }
  CloseReader();
  reader_ = std::move(stream);
  reader_->SetHandler(this);
  const std::string peer = reader_->PeerAddress();
  bool listed = false;
  for (auto& source : sources_) {
    if (SameText(source.address, peer)) {
      source.use = "1";
      listed = true;
      break;
    }
  }
  if (!listed) {
    SetStatus(true);
    return;
  }
  TakeHeader(header, std::move(rest));
}

void Download::OnData(std::string_view bytes) {
  RateLimiter& limiter = context_.download_limiter;
  limiter.Take(static_cast<std::int64_t>(bytes.size()));
  if (receiving_ && !saving_) WriteData(bytes);
  // Over the limit: reading stops until the bucket refills; the source slows with TCP's window.
  if (reader_ && limiter.Limited() && limiter.Available() <= 0) {
    reader_->SetReadPaused(true);
    limiter.Wait(this, [this] {
      if (reader_) reader_->SetReadPaused(false);
    });
  }
}

void Download::TakeHeader(const TransferHeaderFields& header, std::string rest) {
  // The name becomes a path in the download folder; a name that would leave it ends the download.
  if (!IsSafeTransferName(header.name) || header.size < 0) {
    SetStatus(true);
    return;
  }
  receiving_ = true;
  file_size_ = header.size;
  size_text_ = FormatFileSize(file_size_);
  file_name_ = header.name;
  if (TransferRow* row = Row()) row->file_name = file_name_;
  context_.DownloadsChanged();
  ShowStatus("Receiving...");
  const std::string peer = reader_ ? reader_->PeerAddress() : std::string();
  for (auto& source : sources_) {
    if (SameText(source.address, peer)) source.use = "1";
  }
  awaiting_source_ = false;
  tuning_ = PacketTuning();
  // The offset comes from what the temporary file holds now, also on a later connection of the
  // same download: a new source resumes where the last one stopped instead of starting over.
  const auto offset = RestartFromTemporary();
  if (!offset) return;
  if (!reader_->Send(StartMessage(file_name_, *offset))) {
    LoseSource();
    return;
  }
  if (bytes_received_ >= file_size_) {
    Complete();
    return;
  }
  if (!rest.empty()) WriteData(rest);
}

std::optional<std::int64_t> Download::RestartFromTemporary() {
  const auto length = OpenTemporary();
  if (!length) return std::nullopt;
  temp_length_ = *length;
  const auto offset = ResumeOffset(temp_length_, file_size_);
  if (!offset) {
    // The temporary file belongs to something larger; it is left as it is. The row keeps its
    // texts but is marked ended so that it can be cleared.
    if (TransferRow* row = Row()) row->tag = "Error";
    ClearDownload();
    context_.Changed();
    return std::nullopt;
  }
  // Bytes from the offset on are written again: they may not count twice, nor count as they
  // were if the new source sends others.
  catch_up_.reset();
  digest_.RewindTo(*offset);
  write_offset_ = bytes_received_ = last_tick_bytes_ = *offset;
  if (!CatchUp()) return std::nullopt;
  return offset;
}

std::optional<std::int64_t> Download::OpenTemporary() {
  if (fd_ < 0) {
    temp_path_ = CollapseSeparators(context_.prefs.DLDir + file_name_ + "TMP");
    fd_ = ::open(temp_path_.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  }
  struct stat info {};
  if (fd_ < 0 || ::fstat(fd_, &info) != 0) {
    SetStatus(true);
    return std::nullopt;
  }
  std::int64_t length = info.st_size;
  // Fetched in ranges before a restart: beyond its whole start the file may hold gaps. A file
  // longer than the announced size is left for the caller to refuse.
  if (whole_ && *whole_ < length && length <= file_size_) {
    if (::ftruncate(fd_, *whole_) != 0) {
      SetStatus(true);
      return std::nullopt;
    }
    length = *whole_;
  }
  whole_.reset();
  return length;
}

std::int64_t Download::DigestEnd() const {
  return plan_ ? plan_->Prefix() : write_offset_;
}

void Download::WriteData(std::string_view bytes) {
  // Bytes beyond the announced size are not the file's.
  const std::int64_t room = file_size_ - write_offset_;
  if (room <= 0) return;
  if (static_cast<std::int64_t>(bytes.size()) > room) bytes = bytes.substr(0, room);
  while (!bytes.empty()) {
    const ssize_t written = ::pwrite(fd_, bytes.data(), bytes.size(), write_offset_);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) {
      SetStatus(true);
      return;
    }
    // A small file in order and caught up is digested from memory at once. A large one is
    // digested on the hashing service a few megabytes behind the writing, from the page cache,
    // so that the loop only receives and writes.
    if (!catch_up_ && digest_.position() == write_offset_ && file_size_ <= kInlineDigestBytes) {
      digest_.Update(bytes.substr(0, static_cast<std::size_t>(written)));
    }
    write_offset_ += written;
    bytes_received_ += written;
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  // Writing back starts as the bytes come, so that the flush before "Finished" finds little left.
  if (write_offset_ - writeback_from_ >= kWritebackBytes || write_offset_ < writeback_from_) {
    if (write_offset_ > writeback_from_) {
      ::sync_file_range(fd_, writeback_from_, write_offset_ - writeback_from_,
                        SYNC_FILE_RANGE_WRITE);
    }
    writeback_from_ = write_offset_;
  }
  if (write_offset_ - digest_.position() >= kDigestLagBytes && !CatchUp()) return;
  if (bytes_received_ >= file_size_) Complete();
}

void Download::Complete() {
  saving_ = true;
  timer_->Stop();
  ShowStatus("Saving Data...");
  CloseReader();
  ClearLegs();
  const bool flushed = fd_ >= 0 && ::fsync(fd_) == 0;
  CloseFile();
  if (!flushed) {
    SetStatus(true);
    return;
  }
  if (file_hash_.empty()) {
    Saved(std::string());
    return;
  }
  Verify();
}

bool Download::CatchUp() {
  if (catch_up_ || digest_.position() >= DigestEnd()) return true;
  auto job = std::make_shared<FileCatchUp>(digest_, DigestEnd());
  if (!job->Open(temp_path_)) {
    if (saving_) {
      Saved(std::string());
    } else {
      SetStatus(true);
    }
    return false;
  }
  catch_up_ = context_.runtime.Hashing().RunSteps(
      [job] { return job->Next() == FileCatchUp::Step::kMore; }, [this, job] { CaughtUp(*job); });
  return true;
}

void Download::CaughtUp(FileCatchUp& job) {
  catch_up_.reset();
  if (job.failed()) {
    // The temporary file lost bytes it held: nothing it holds can be trusted.
    if (saving_) {
      Saved(std::string());
    } else {
      SetStatus(true);
    }
    return;
  }
  digest_ = std::move(job.digest());
  if (digest_.position() < DigestEnd()) {
    CatchUp();
  } else if (saving_) {
    Verify();
  }
}

void Download::Verify() {
  if (catch_up_) return;  // its end comes back here
  if (digest_.position() < file_size_) {
    CatchUp();
    return;
  }
  Saved(digest_.Hex());
}

void Download::Saved(const std::string& hash) {
  std::error_code ec;
  if (!file_hash_.empty() && (hash.empty() || !SameText(hash, file_hash_))) {
    // Bytes that do not make the wanted file are no base to resume from either.
    std::filesystem::remove(temp_path_, ec);
    SetStatus(true);
    return;
  }
  const std::string final_path = temp_path_.substr(0, temp_path_.size() - 3);
  std::filesystem::rename(temp_path_, final_path, ec);
  SetStatus(static_cast<bool>(ec));
}

void Download::OnClosed() {
  if (saving_) return;
  context_.Dispose(std::move(reader_));
  reader_.reset();
  if (awaiting_source_ || searching_ || !receiving_ || bytes_received_ >= file_size_) return;
  LoseSource();
}

void Download::OnFailed() {
  // A broken connection costs its source whatever state the download is in.
  if (saving_) return;
  context_.Dispose(std::move(reader_));
  reader_.reset();
  LoseSource();
}

// --- The rate timer ---

void Download::Tick() {
  if (Ranged()) {
    TickRanges();
    return;
  }
  if (!receiving_ || awaiting_source_ || searching_) {
    ++wait_ticks_;
    if (wait_ticks_ >= kSourceWaitTicks) {
      if (!receiving_ && !searching_) {
        if (awaiting_source_) {
          SelectSource();
        } else {
          SourceFindMore();
        }
        return;
      }
      if (searching_) {
        searching_ = false;
        restored_pass_ = false;
        ShowStatus("Receiving...");
        SelectSource();
        return;
      }
    }
  }
  const std::int64_t rate = RoundHalfEven((bytes_received_ - last_tick_bytes_) * 100, 1024);
  if (!is_paused_) {
    const auto size = tuning_.Tick(rate);
    if (size && reader_) reader_->Send(PacketMessage(*size));
  }
  ShowProgress(rate);
}

void Download::ShowProgress(std::int64_t rate) {
  if (TransferRow* row = Row()) {
    row->rate = FormatHundredths(rate) + " kbs";
    if (rate > 0) {
      row->time_remaining = FormatDuration((file_size_ - bytes_received_) * 100 / (1024 * rate));
    }
    if (bytes_received_ > 0 && file_size_ > 0) {
      row->percent = std::to_string(RoundHalfEven(100 * bytes_received_, file_size_)) + "%";
    }
    row->size = FormatFileSize(static_cast<std::int32_t>(bytes_received_)) + "/" + size_text_;
  }
  last_tick_bytes_ = bytes_received_;
  context_.Changed();
}

}  // namespace zorvex
