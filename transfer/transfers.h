#pragma once
// The downloads and uploads of a node: the listener on the download port, the download and upload
// instances (`Receivers`, `Senders`) with their rows, the source search that finds more peers
// holding a file, and the program-wide upload rate figures.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/runtime.h"
#include "settings/preferences.h"
#include "share/shared_files.h"

namespace zorvex {

class MessageLayer;
class PeerTable;

// One row of the Downloads or Uploads list, with its column texts.
struct TransferRow {
  std::string file_name;
  std::string percent;         // "0%"
  std::string rate;            // "0.00 kbs", "12.5 kbs", "0 Bytes"
  std::string time_remaining;  // "00:00:00"
  std::string size;            // "1.5 Kb/3 Mb"
  std::string sources;         // downloads: the number of sources, "None" at first
  std::string username;        // uploads: the requester's nickname
  std::string status;          // "Waiting...", "Receiving...", "Sending...", "Finished", ...
  std::string tag;             // the transfer id while running, then "Finished" or "Error"
  std::string peer;            // uploads: the downloader's address
  bool restored = false;       // downloads: brought back from the saved list at start-up
};

// One row of a download's source list.
struct TransferSource {
  std::string address;
  std::string best;     // advertised best upload rate, as received
  std::string average;  // advertised average upload rate, as received
  std::string use;      // "0" known, "2" asked, "1" sending, "-1" given up
};

class Transfers final : public StreamListenerHandler {
 public:
  Transfers(Runtime& runtime, MessageLayer& messages, const PeerTable& peers, Preferences& prefs,
            const SharedFileTable& files);
  ~Transfers() override;

  // (Re)starts the listener on the download port.
  void StartDownloadListener();

  // Starts a download; false (after the message box) when a download of that name runs.
  bool StartDownload(std::string_view name, std::int32_t size, std::string_view hash,
                     std::string_view source);
  // Acting on rows of the lists, by row index; rows that have ended are left alone.
  void CancelTransfer(bool uploads, std::size_t row);
  void PauseDownload(std::size_t row);
  void FindMoreSources(std::size_t row);
  void ClearTransfers(bool uploads, bool errors);
  // The stored check boxes "Clear Incomplete/Finished Downloads" and "... Uploads".
  void SetAutomaticClear(bool downloads, bool uploads);

  // Takes the upload and download limits from the preferences.
  void ApplyRateLimits();
  // How many peers one download's source search asks at most; only network studies change it.
  void SetSourceAskLimit(std::size_t limit);

  // Keeps the downloads in progress in this file (none when empty, the default) and brings
  // them back with RestoreDownloads.
  void SetSavedDownloadsFile(std::filesystem::path path);
  // Each saved download comes back as a row, asks its known sources and the neighbours again,
  // and resumes from its temporary file.
  void RestoreDownloads();
  // Writes the saved list now rather than after the current loop step.
  void SaveDownloadsNow();
  // A neighbour joined: restored downloads still in their first source search ask it too.
  void NeighbourAdded();

  // Messages from other nodes.
  void HandleSearchDownload(const std::string& sender, std::string_view payload);
  void HandleSourceSearch(const std::string& sender, std::string_view payload);
  void HandleSourceData(const std::string& sender, std::string_view payload);
  void HandleSourceFound(const std::string& sender, std::string_view payload);

  const std::vector<TransferRow>& download_rows() const;
  const std::vector<TransferRow>& upload_rows() const;
  // The source list of the download shown in that row; empty for an ended one.
  std::vector<TransferSource> Sources(std::size_t download_row) const;

  // Runs after every change a view shows.
  void SetChangeListener(std::function<void()> listener);

  void OnIncoming(std::unique_ptr<StreamSocket> stream) override;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace zorvex
