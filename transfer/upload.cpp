#include "transfer/upload.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <filesystem>
#include <limits>
#include <system_error>

#include "core/address.h"
#include "share/format.h"
#include "share/paths.h"

namespace zorvex {

namespace {

// File bytes are read ahead in blocks this long and cut into packets.
constexpr std::size_t kReadBlockBytes = 256 * 1024;

}  // namespace

Upload::Upload(TransferContext& context, int id)
    : context_(context),
      id_(id),
      timer_(context.runtime.CreateTimer(TimerKind::kRepeating, [this] { Tick(); })) {}

Upload::~Upload() {
  Reset();
}

TransferRow* Upload::Row() {
  return TransferContext::FindRow(context_.upload_rows, id_);
}

void Upload::ShowStatus(const std::string& text) {
  if (TransferRow* row = Row()) row->status = text;
  context_.Changed();
}

void Upload::Reset() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  remote_ip_.clear();
  file_size_ = 0;
  file_name_.clear();
  file_path_.clear();
  is_paused_ = false;
  started_ = false;
  bytes_confirmed_ = 0;
  read_position_ = 0;
  last_tick_bytes_ = 0;
  block_.clear();
  block_.shrink_to_fit();
  block_start_ = 0;
  block_length_ = 0;
  in_flight_.clear();
  sent_unclaimed_ = 0;
  control_ = ControlReader();
  context_.upload_limiter.Forget(this);
  timer_->Stop();
  context_.Dispose(std::move(sender_));
  sender_.reset();
}

void Upload::Connect(const std::string& address, const std::string& path, std::uint16_t port,
                     const std::string& nickname) {
  Reset();
  file_path_ = path;
  remote_ip_ = address;
  file_name_ = GetFileName(path);
  if (file_name_.empty()) file_name_ = "Unknown";
  std::error_code ec;
  const auto length = std::filesystem::file_size(path, ec);
  // An unreadable or oversized file is noticed when it is opened on connection.
  file_size_ = ec || length > static_cast<std::uintmax_t>(std::numeric_limits<std::int32_t>::max())
                   ? 0
                   : static_cast<std::int32_t>(length);
  size_text_ = FormatFileSize(file_size_);
  TransferRow row;
  row.file_name = file_name_;
  row.percent = "0%";
  row.rate = "0 Bytes";
  row.time_remaining = "00:00:00";
  row.size = size_text_;
  row.username = nickname;
  row.status = "Connecting...";
  row.tag = std::to_string(id_);
  row.peer = address;
  context_.upload_rows.push_back(std::move(row));
  timer_->Start(kTickMs);
  sender_ = context_.runtime.CreateStreamSocket();
  sender_->SetHandler(this);
  context_.Changed();
  sender_->Connect(address, port);
}

void Upload::SetStatus(bool failed, bool cancelled) {
  if (TransferRow* row = Row()) ShowEnding(*row, failed, cancelled, size_text_);
  Reset();
  if (context_.clear_uploads) context_.ClearRows(true, failed);
  context_.Changed();
}

void Upload::OnConnected() {
  fd_ = ::open(file_path_.c_str(), O_RDONLY | O_CLOEXEC);
  std::error_code ec;
  if (fd_ < 0 ||
      std::filesystem::file_size(file_path_, ec) != static_cast<std::uintmax_t>(file_size_) || ec) {
    SetStatus(true);
    return;
  }
  ShowStatus("Sending Information...");
  if (!sender_->Send(TransferHeader(file_size_, file_name_))) {
    SetStatus(true);
    return;
  }
  ShowStatus("Sending...");
}

void Upload::OnData(std::string_view bytes) {
  for (const ControlWord& word : control_.Feed(bytes)) {
    if (!InUse()) return;  // an earlier word ended the upload
    switch (word.kind) {
      case ControlWord::Kind::kStart:
        if (!SameText(word.name, file_name_) || word.value < 0 || word.value > file_size_) {
          SetStatus(true);
          return;
        }
        started_ = true;
        if (!timer_->IsActive()) timer_->Start(kTickMs);
        read_position_ = bytes_confirmed_ = last_tick_bytes_ = word.value;
        in_flight_.clear();
        sent_unclaimed_ = 0;
        ShowStatus("Sending...");
        if (!SendFile()) return;
        if (!SendPackets()) return;
        break;
      case ControlWord::Kind::kPause:
        if (!is_paused_) {
          is_paused_ = true;
          ShowStatus("Paused");
        } else {
          is_paused_ = false;
          if (!SendFile()) return;
          ShowStatus("Sending...");
          if (!SendPackets()) return;
        }
        break;
      case ControlWord::Kind::kClose:
        SetStatus(false);
        return;
      case ControlWord::Kind::kPacket:  // the packet size stays 1024
      case ControlWord::Kind::kUnknown:
        break;
    }
  }
}

bool Upload::SendFile() {
  const std::int64_t remaining = file_size_ - read_position_;
  if (remaining <= 0 || !started_) return true;
  const std::int64_t length = std::min<std::int64_t>(remaining, kPacketSize);
  if (read_position_ < block_start_ || read_position_ + length > block_start_ + block_length_) {
    block_.resize(kReadBlockBytes);
    const std::int64_t want = std::min<std::int64_t>(remaining, kReadBlockBytes);
    const std::int64_t got = ReadAt(fd_, block_.data(), want, read_position_);
    // A file that shrank or cannot be read has no bytes to send in place of its own.
    if (got < length) {
      SetStatus(true);
      return false;
    }
    block_start_ = read_position_;
    block_length_ = got;
  }
  const std::string_view packet(block_.data() + (read_position_ - block_start_),
                                static_cast<std::size_t>(length));
  read_position_ += length;
  in_flight_.push_back(length);
  context_.upload_limiter.Take(length);
  if (!sender_->Send(packet)) {
    SetStatus(true);
    return false;
  }
  return true;
}

bool Upload::SendBlock(std::int64_t most) {
  const std::int64_t remaining = file_size_ - read_position_;
  if (remaining <= 0 || !started_) return true;
  const std::int64_t want = std::min<std::int64_t>(remaining, most);
  block_.resize(kReadBlockBytes);
  const std::int64_t got = ReadAt(fd_, block_.data(), want, read_position_);
  if (got < want) {
    SetStatus(true);
    return false;
  }
  // Consecutive packets go out in one send: the bytes on the connection are the same.
  for (std::int64_t at = 0; at < want; at += kPacketSize) {
    in_flight_.push_back(std::min<std::int64_t>(kPacketSize, want - at));
  }
  read_position_ += want;
  block_length_ = 0;
  context_.upload_limiter.Take(want);
  if (!sender_->Send(std::string_view(block_.data(), static_cast<std::size_t>(want)))) {
    SetStatus(true);
    return false;
  }
  return true;
}

bool Upload::SendPackets() {
  RateLimiter& limiter = context_.upload_limiter;
  while (InUse() && started_ && !is_paused_ && read_position_ < file_size_ &&
         sender_->PendingBytes() < kUploadInFlightBytes) {
    std::int64_t most = static_cast<std::int64_t>(kReadBlockBytes);
    if (limiter.Limited()) {
      // Whole packets only, so that every packet but the last stays 1024 bytes.
      const std::int64_t remaining = file_size_ - read_position_;
      std::int64_t room = limiter.Available() / kPacketSize * kPacketSize;
      if (limiter.Available() >= remaining) room = remaining;
      if (room <= 0) {
        limiter.Wait(this, [this] { SendPackets(); });
        return true;
      }
      most = std::min(most, room);
    }
    if (!SendBlock(most)) return false;
  }
  return InUse();
}

void Upload::OnSent(std::size_t bytes) {
  if (!started_) return;
  sent_unclaimed_ += bytes;
  // Each whole packet that left counts as a full packet, the short last one too.
  while (!in_flight_.empty() && sent_unclaimed_ >= static_cast<std::uint64_t>(in_flight_.front())) {
    sent_unclaimed_ -= static_cast<std::uint64_t>(in_flight_.front());
    in_flight_.pop_front();
    bytes_confirmed_ += kPacketSize;
  }
  if (bytes_confirmed_ >= file_size_) {
    SetStatus(false);
    return;
  }
  if (!is_paused_) SendPackets();
}

void Upload::OnClosed() {
  SetStatus(read_position_ < file_size_ || !started_);
}

void Upload::OnFailed() {
  SetStatus(true);
}

void Upload::Tick() {
  const std::int64_t rate = RoundHalfEven((bytes_confirmed_ - last_tick_bytes_) * 100, 1024);
  Preferences& prefs = context_.prefs;
  if (!is_paused_) {
    const auto average = static_cast<std::int64_t>(std::llround(prefs.AverageUploadRate * 100));
    prefs.AverageUploadRate = static_cast<double>(RoundHalfEven(average + rate, 2)) / 100;
    if (static_cast<double>(rate) / 100 > prefs.BestUploadRate) {
      prefs.BestUploadRate = static_cast<double>(rate) / 100;
    }
  }
  if (TransferRow* row = Row()) {
    row->rate = FormatHundredths(rate) + " kbs";
    if (rate > 0) {
      row->time_remaining = FormatDuration((file_size_ - bytes_confirmed_) * 100 / (1024 * rate));
    }
    if (bytes_confirmed_ > 0 && file_size_ > 0) {
      row->percent = std::to_string(RoundHalfEven(100 * bytes_confirmed_, file_size_)) + "%";
    }
    row->size = FormatFileSize(static_cast<std::int32_t>(std::min<std::int64_t>(
                    bytes_confirmed_, std::numeric_limits<std::int32_t>::max()))) +
                "/" + size_text_;
  }
  last_tick_bytes_ = bytes_confirmed_;
  context_.Changed();
}

}  // namespace zorvex
