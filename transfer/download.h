#pragma once
// One download instance: its stream, its rate timer, its source list and its temporary file.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

#include "transfer/context.h"
#include "transfer/running_digest.h"
#include "transfer/saved_downloads.h"
#include "transfer/wire.h"

namespace zorvex {

class Download final : public StreamHandler {
 public:
  Download(TransferContext& context, int id);
  ~Download() override;
  Download(const Download&) = delete;
  Download& operator=(const Download&) = delete;

  void RequestFile(const std::string& name, const std::string& hash, std::int32_t size,
                   const std::string& source);
  bool InUse() const;
  bool Paused() const { return is_paused_; }
  void PauseMe();
  // Ends the download and frees the instance; `cancelled` shows "Cancelled" instead of "Error!".
  void SetStatus(bool failed, bool cancelled = false);

  // Sources.
  bool SourceIPAllow(const std::string& address) const;
  // Takes over a connection whose header has arrived; `rest` is what followed the header.
  void StartReceive(std::unique_ptr<StreamSocket> stream, const TransferHeaderFields& header,
                    std::string rest);
  void SourceFindMore();
  void SourceSearchUser(const std::string& address);
  bool SourceSearchedAlready(const std::string& address) const;
  // False when the address was listed already or the list is full.
  bool SourceAddSearched(const std::string& address);
  void SourceFound(const std::string& address, const std::string& hash, const std::string& average,
                   const std::string& best);
  const std::vector<TransferSource>& sources() const { return sources_; }
  // What is kept of a download in progress across a restart.
  SavedDownload ToSaved() const;
  // Brought back after a restart: asks the sources it knew, and for its first search pass every
  // neighbour that joins meanwhile.
  void Restored(const std::vector<std::string>& known_sources);
  void NeighbourAdded();
  const std::string& file_name() const { return file_name_; }

  // Test hooks: what a test may want to look at.
  std::int64_t bytes_received() const { return bytes_received_; }
  std::int32_t packet_size() const { return packet_size_; }

  void OnData(std::string_view bytes) override;
  void OnSent(std::size_t) override {}
  void OnClosed() override;
  void OnFailed() override;

 private:
  void Tick();
  void SelectSource();
  void SwitchSource(int next, int previous);
  int CurrentSource() const;
  void LoseSource();
  void TakeHeader(const TransferHeaderFields& header, std::string rest);
  void WriteData(std::string_view bytes);
  void Complete();
  // Digests what was written but not yet digested, off the loop.
  void CatchUp();
  void CaughtUp(FileCatchUp& job);
  // Once everything is digested: compares and saves.
  void Verify();
  void Saved(const std::string& hash);
  void ShowStatus(const std::string& text);
  TransferRow* Row();
  void ClearDownload();
  void ResetFile();
  void CloseFile();
  void CloseReader();
  void StartTimer();

  TransferContext& context_;
  const int id_;
  std::unique_ptr<Timer> timer_;
  std::unique_ptr<StreamSocket> reader_;
  std::unique_ptr<PendingRequest> catch_up_;
  RunningDigest digest_;  // of the temporary file's first bytes, up to at most write_offset_
  std::vector<TransferSource> sources_;
  std::vector<std::string> searched_peers_;
  std::unordered_set<std::string> searched_set_;  // the same, lower-cased

  std::string file_name_;
  std::string source_ip_;
  std::string file_hash_;
  std::string size_text_;
  std::string temp_path_;
  std::int64_t bytes_received_ = 0;
  std::int64_t write_offset_ = 0;
  std::int64_t last_tick_bytes_ = 0;
  std::int64_t temp_length_ = 0;     // the temporary file's length when it was opened
  std::int64_t writeback_from_ = 0;  // written bytes before this offset are on their way to disk
  std::int32_t file_size_ = 0;
  int fd_ = -1;
  bool is_paused_ = false;
  bool receiving_ = false;
  bool awaiting_source_ = false;
  bool searching_ = false;
  bool saving_ = false;
  bool restored_pass_ = false;
  int wait_ticks_ = 0;
  int tune_ticks_ = 0;
  std::int32_t previous_packet_size_ = 0;
  std::int64_t average_rate_ = 0;  // hundredths of kilobytes per second
  std::int64_t previous_average_rate_ = 0;
  std::int32_t packet_size_ = kPacketSize;
};

}  // namespace zorvex
