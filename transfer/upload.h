#pragma once
// One upload instance: its stream towards the downloader, its rate timer and the shared file.

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "transfer/context.h"
#include "transfer/wire.h"

namespace zorvex {

class Upload final : public StreamHandler {
 public:
  Upload(TransferContext& context, int id);
  ~Upload() override;
  Upload(const Upload&) = delete;
  Upload& operator=(const Upload&) = delete;

  bool InUse() const { return !remote_ip_.empty(); }
  const std::string& remote_ip() const { return remote_ip_; }
  void Connect(const std::string& address, const std::string& path, std::uint16_t port,
               const std::string& nickname);
  // Ends the upload and frees the instance; `cancelled` shows "Cancelled" instead of "Error!".
  void SetStatus(bool failed, bool cancelled = false);

  void OnConnected() override;
  void OnData(std::string_view bytes) override;
  void OnSent(std::size_t bytes) override;
  void OnClosed() override;
  void OnFailed() override;

 private:
  void Tick();
  // Sends packets until enough are in flight; false when the upload ended meanwhile.
  // Reads up to one block of whole packets and sends them together.
  bool SendBlock(std::int64_t most);
  bool SendPackets();
  bool SendFile();
  void ShowStatus(const std::string& text);
  TransferRow* Row();
  void Reset();

  TransferContext& context_;
  const int id_;
  std::unique_ptr<Timer> timer_;
  std::unique_ptr<StreamSocket> sender_;
  ControlReader control_;
  std::vector<char> block_;  // read ahead from the file
  std::int64_t block_start_ = 0;
  std::int64_t block_length_ = 0;
  std::deque<std::int64_t> in_flight_;  // lengths of packets not yet confirmed
  std::uint64_t sent_unclaimed_ = 0;    // confirmed bytes not yet making up a whole packet

  std::string remote_ip_;
  std::string file_name_;
  std::string file_path_;
  std::string size_text_;
  std::int32_t file_size_ = 0;
  std::int64_t bytes_confirmed_ = 0;
  std::int64_t read_position_ = 0;
  std::int64_t last_tick_bytes_ = 0;
  int fd_ = -1;
  bool is_paused_ = false;
  bool started_ = false;
};

}  // namespace zorvex
