#pragma once
// What the download and upload instances share with the transfer lists: the ports, the
// preferences, the two row lists and the automatic clearing.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/runtime.h"
#include "settings/preferences.h"
#include "share/shared_files.h"
#include "transfer/rate_limiter.h"
#include "transfer/transfers.h"

namespace zorvex {

class MessageLayer;
class PeerTable;

// Up to this many bytes an upload keeps queued on its stream, so the link never idles waiting
// for a completion.
inline constexpr std::size_t kUploadInFlightBytes = 256 * 1024;
inline constexpr std::int32_t kPacketSize = 1024;
inline constexpr std::int64_t kTickMs = 1000;
inline constexpr int kSourceWaitTicks = 20;
inline constexpr int kTuneTicks = 15;
inline constexpr std::int32_t kTuneStep = 60;
// A "SourceData:" answer lists a node's neighbours; a real node has at most 12.
inline constexpr std::size_t kMaxListedSources = 12;
// Bounds of one download's lists, far above what an honest network fills: the peers it asks
// whether they hold the file, and the sources it keeps.
inline constexpr std::size_t kMaxSourcePeersAsked = 2'000;
inline constexpr std::size_t kMaxSources = 256;

struct TransferContext {
  Runtime& runtime;
  MessageLayer& messages;
  const PeerTable& peers;
  Preferences& prefs;
  const SharedFileTable& files;
  std::vector<TransferRow> download_rows;
  std::vector<TransferRow> upload_rows;
  bool clear_downloads = false;
  bool clear_uploads = false;
  std::function<void()> listener;
  // Runs when the set of downloads in progress, or what is kept of one, changed.
  std::function<void()> downloads_changed;
  // Each direction's limit, shared by all its transfers.
  RateLimiter upload_limiter;
  RateLimiter download_limiter;
  std::size_t source_ask_limit = kMaxSourcePeersAsked;

  void Changed() const {
    if (listener) listener();
  }
  void DownloadsChanged() const {
    if (downloads_changed) downloads_changed();
  }
  // The running row tagged with the transfer id, or null.
  static TransferRow* FindRow(std::vector<TransferRow>& rows, int id);
  // Removes ended rows: errored ones if `errors`, else finished ones.
  void ClearRows(bool uploads, bool errors);
  // Closes a stream and frees it once the current callback, which may be its own, has returned.
  void Dispose(std::unique_ptr<StreamSocket> stream);
};

// num / den rounded to a whole number, halves to the even neighbour; den > 0.
std::int64_t RoundHalfEven(std::int64_t num, std::int64_t den);

// The texts of a row whose transfer ended: "Error!" (or "Cancelled") and tag "Error", or the
// finished texts and tag "Finished".
void ShowEnding(TransferRow& row, bool failed, bool cancelled, const std::string& size_text);

// Reads up to `want` bytes at `offset`; the number read (short at the end or on an error).
std::int64_t ReadAt(int fd, char* buffer, std::int64_t want, std::int64_t offset);

}  // namespace zorvex
