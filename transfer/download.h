#pragma once
// One download instance: its stream, its rate timer, its source list and its temporary file.
// With the preference SourcesAtOnce above 1 it fetches different ranges of the file from that many
// sources at once instead, one connection each (SourceLeg), shared out by a RangePlan; the
// running digest then follows the part of the file that is whole from its start.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

#include "transfer/context.h"
#include "transfer/packet_tuning.h"
#include "transfer/range_plan.h"
#include "transfer/running_digest.h"
#include "transfer/saved_downloads.h"
#include "transfer/wire.h"

namespace zorvex {

struct SourceLeg;

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
  // neighbour that joins meanwhile. `whole`: how much of the temporary file's start is whole,
  // when it was fetched in ranges; the rest is cut off before resuming.
  void Restored(const std::vector<std::string>& known_sources,
                std::optional<std::int64_t> whole = std::nullopt);
  void NeighbourAdded();
  const std::string& file_name() const { return file_name_; }

  // Test hooks: what a test may want to look at.
  std::int64_t bytes_received() const { return bytes_received_; }
  std::int32_t packet_size() const { return tuning_.size; }

  void OnData(std::string_view bytes) override;
  void OnSent(std::size_t) override {}
  void OnClosed() override;
  void OnFailed() override;

 private:
  friend struct SourceLeg;

  void Tick();
  // The row's rate, time, percent and size texts at `rate` (hundredths of kilobytes a second).
  void ShowProgress(std::int64_t rate);
  void SelectSource();
  void SwitchSource(int next, int previous);
  int CurrentSource() const;
  void LoseSource();
  void TakeHeader(const TransferHeaderFields& header, std::string rest);
  void WriteData(std::string_view bytes);
  // Opens the temporary file if needed; its usable length, or nothing when the download ended.
  std::optional<std::int64_t> OpenTemporary();
  // Opens the temporary file and counts and digests again from where its usable start ends;
  // that offset, or nothing when the download ended.
  std::optional<std::int64_t> RestartFromTemporary();
  // What the digest may cover: the bytes written in order, or the whole start of a ranged file.
  std::int64_t DigestEnd() const;
  void Complete();
  // Digests what was written but not yet digested, off the loop. False when the temporary file
  // could not be read and the download ended.
  bool CatchUp();
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

  // Several sources at once (download_ranges.cpp).
  bool Ranged() const { return sources_at_once_ > 1; }
  bool LegAllows(const std::string& address) const;
  void StartLeg(std::unique_ptr<StreamSocket> stream, const TransferHeaderFields& header,
                std::string rest);
  void LegData(SourceLeg& leg, std::string_view bytes);
  void WriteRange(SourceLeg& leg, std::string_view bytes);
  // The leg's range is in and nothing follows it: its source is asked again for another.
  void FinishLeg(SourceLeg& leg);
  // The leg broke, stalled or misbehaved: its source is given up and its range goes back.
  void LoseLeg(SourceLeg& leg);
  void RemoveLeg(SourceLeg& leg);
  void ClearLegs();
  void AskLeg(std::size_t source);
  // Asks known sources until SourcesAtOnce legs run or no range is left to hand out.
  void FillLegs();
  void PauseLegs();
  void TickRanges();
  SourceLeg* FindLeg(int id);
  std::optional<std::size_t> FindSource(const std::string& address) const;
  std::size_t AwaitedLegs() const;

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
  PacketTuning tuning_;

  int sources_at_once_ = 1;        // taken from the preferences when the download starts
  std::optional<RangePlan> plan_;  // ranged: from the first header on
  std::vector<std::unique_ptr<SourceLeg>> legs_;
  int next_leg_id_ = 0;
  std::optional<std::int64_t> whole_;  // restored: the temporary file's whole start
  std::int64_t saved_prefix_ = 0;      // the whole start when the list was last told
};

}  // namespace zorvex
