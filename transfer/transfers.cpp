#include "transfer/transfers.h"

#include <charconv>
#include <cmath>

#include "core/address.h"
#include "core/fields.h"
#include "core/message_layer.h"
#include "network/peer_table.h"
#include "share/format.h"
#include "transfer/context.h"
#include "transfer/download.h"
#include "transfer/saved_downloads.h"
#include "transfer/upload.h"
#include "transfer/wire.h"

namespace zorvex {

namespace {

// Connections from expected peers whose header has not yet arrived. A peer may hold only a few
// open at once.
constexpr std::size_t kMaxWaitingConnections = 16;

// An incoming connection until its header names the download it belongs to.
class WaitingConnection final : public StreamHandler {
 public:
  using Arrived = std::function<void(WaitingConnection&, HeaderReader::State)>;

  WaitingConnection(std::unique_ptr<StreamSocket> stream, Arrived arrived)
      : stream_(std::move(stream)), arrived_(std::move(arrived)) {
    stream_->SetHandler(this);
  }

  void OnData(std::string_view bytes) override {
    const auto state = header_.Feed(bytes);
    if (state != HeaderReader::State::kWaiting) arrived_(*this, state);
  }
  void OnSent(std::size_t) override {}
  void OnClosed() override { arrived_(*this, HeaderReader::State::kRefused); }

  std::unique_ptr<StreamSocket>& stream() { return stream_; }
  HeaderReader& header() { return header_; }

 private:
  std::unique_ptr<StreamSocket> stream_;
  HeaderReader header_;
  Arrived arrived_;
};

}  // namespace

struct Transfers::State {
  State(Runtime& runtime, MessageLayer& messages, const PeerTable& peers, Preferences& prefs,
        const SharedFileTable& files)
      : context{runtime, messages, peers, prefs, files,     {},       {},
                false,   false,    {},    {},    {runtime}, {runtime}} {}

  TransferContext context;
  std::filesystem::path saved_file;
  bool save_posted = false;
  std::shared_ptr<bool> alive = std::make_shared<bool>(true);
  std::unique_ptr<StreamListener> listener;
  std::vector<std::shared_ptr<WaitingConnection>> waiting;
  // Instances live as long as the program: their indexes are the rows' tags.
  std::vector<std::unique_ptr<Download>> receivers;
  std::vector<std::unique_ptr<Upload>> senders;

  Download* FindDownloadByName(std::string_view name) {
    if (name.empty()) return nullptr;
    for (auto& download : receivers) {
      if (SameText(download->file_name(), name)) return download.get();
    }
    return nullptr;
  }

  // The instance of a running row; null for a row that ended or does not exist.
  template <typename Instance>
  Instance* ByRow(std::vector<std::unique_ptr<Instance>>& table,
                  const std::vector<TransferRow>& rows, std::size_t row) {
    if (row >= rows.size()) return nullptr;
    const auto id = ParseDecimal<std::size_t>(rows[row].tag);
    if (!id || *id >= table.size()) return nullptr;
    return table[*id].get();
  }

  // A connection belongs to the download that asked its peer for the file the header names;
  // any other is closed before it can touch a file.
  void HeaderArrived(WaitingConnection& connection, HeaderReader::State state) {
    std::unique_ptr<StreamSocket> stream = std::move(connection.stream());
    ForgetWaiting(connection);
    if (state == HeaderReader::State::kDone) {
      const std::string peer = stream->PeerAddress();
      const TransferHeaderFields& header = connection.header().header();
      for (auto& download : receivers) {
        if (SameText(download->file_name(), header.name) && download->SourceIPAllow(peer)) {
          download->StartReceive(std::move(stream), header, connection.header().TakeRest());
          return;
        }
      }
    }
    context.Dispose(std::move(stream));
  }

  // Removes the connection from the list; it is freed once the callback it runs in has returned.
  void ForgetWaiting(WaitingConnection& connection) {
    for (auto it = waiting.begin(); it != waiting.end(); ++it) {
      if (it->get() == &connection) {
        std::shared_ptr<WaitingConnection> held = std::move(*it);
        waiting.erase(it);
        context.runtime.Post([held] {});
        return;
      }
    }
  }

  // A free instance (or a new one) with a fresh row for the download.
  Download* AddDownload(std::string_view name, std::int32_t size) {
    Download* free = nullptr;
    int id = 0;
    for (std::size_t i = 0; i < receivers.size(); ++i) {
      if (!receivers[i]->InUse()) {
        free = receivers[i].get();
        id = static_cast<int>(i);
        break;
      }
    }
    if (!free) {
      id = static_cast<int>(receivers.size());
      receivers.push_back(std::make_unique<Download>(context, id));
      free = receivers.back().get();
    }
    TransferRow row;
    row.file_name = std::string(name);
    row.percent = "0%";
    row.rate = "0.00 kbs";
    row.time_remaining = "00:00:00";
    row.size = "0 Kb/" + FormatFileSize(size);
    row.sources = "None";
    row.status = "Waiting...";
    row.tag = std::to_string(id);
    context.download_rows.push_back(std::move(row));
    context.Changed();
    return free;
  }

  // Many changes in one loop step make one write.
  void ScheduleSave() {
    if (saved_file.empty() || save_posted) return;
    save_posted = true;
    context.runtime.Post([this, weak = std::weak_ptr<bool>(alive)] {
      if (weak.expired()) return;
      save_posted = false;
      SaveNow();
    });
  }

  void SaveNow() {
    if (saved_file.empty()) return;
    std::vector<SavedDownload> list;
    for (const auto& download : receivers) {
      if (download->InUse() && !download->file_name().empty()) list.push_back(download->ToSaved());
    }
    WriteSavedDownloads(saved_file, list);
  }

  std::size_t CountUploads(std::string_view address) const {
    std::size_t count = 0;
    for (const auto& upload : senders) {
      if (upload->InUse() && (address.empty() || SameText(upload->remote_ip(), address))) ++count;
    }
    return count;
  }

  void StartUpload(const std::string& address, const std::string& path, const std::string& nickname,
                   std::uint16_t port) {
    const Preferences& prefs = context.prefs;
    for (;;) {
      if (CountUploads("") + 1 > static_cast<std::size_t>(std::max<int>(prefs.MaxULs, 0))) return;
      if (CountUploads(address) + 1 >
          static_cast<std::size_t>(std::max<int>(prefs.MaxULUsers, 0))) {
        return;
      }
      for (std::size_t i = 0; i < senders.size(); ++i) {
        if (!senders[i]->InUse()) {
          senders[i]->Connect(address, path, port, nickname);
          return;
        }
      }
      senders.push_back(std::make_unique<Upload>(context, static_cast<int>(senders.size())));
    }
  }
};

Transfers::Transfers(Runtime& runtime, MessageLayer& messages, const PeerTable& peers,
                     Preferences& prefs, const SharedFileTable& files)
    : state_(std::make_unique<State>(runtime, messages, peers, prefs, files)) {}

Transfers::~Transfers() {
  // A save still waiting for the loop is written now; after this nothing is posted any more.
  if (state_->save_posted) state_->SaveNow();
  state_->context.downloads_changed = nullptr;
}

void Transfers::StartDownloadListener() {
  State& s = *state_;
  if (!s.listener) s.listener = s.context.runtime.CreateStreamListener(*this);
  const std::int32_t port = s.context.prefs.DownloadPort;
  if (port < 0 || port > 65535) return;
  if (s.listener->Port() != port || port > 0) {
    s.listener->Close();
    s.listener->Listen(static_cast<std::uint16_t>(port));
  }
}

bool Transfers::StartDownload(std::string_view name, std::int32_t size, std::string_view hash,
                              std::string_view source) {
  State& s = *state_;
  StartDownloadListener();
  for (const auto& download : s.receivers) {
    if (SameText(download->file_name(), name)) {
      s.context.runtime.Prompts().MessageBox("The selected file is already being transferred!",
                                             kAppTitle, PromptIcon::kCritical);
      return false;
    }
  }
  Download* download = s.AddDownload(name, size);
  download->RequestFile(std::string(name), std::string(hash), size, std::string(source));
  return true;
}

void Transfers::SetSourceAskLimit(std::size_t limit) {
  state_->context.source_ask_limit = limit;
}

void Transfers::ApplyRateLimits() {
  TransferContext& context = state_->context;
  context.upload_limiter.SetLimit(context.prefs.UploadLimit);
  context.download_limiter.SetLimit(context.prefs.DownloadLimit);
}

void Transfers::SetSavedDownloadsFile(std::filesystem::path path) {
  State& s = *state_;
  s.saved_file = std::move(path);
  s.context.downloads_changed = [&s] { s.ScheduleSave(); };
}

void Transfers::RestoreDownloads() {
  State& s = *state_;
  if (s.saved_file.empty()) return;
  const std::vector<SavedDownload> saved = ReadSavedDownloads(s.saved_file);
  if (saved.empty()) return;
  StartDownloadListener();
  for (const SavedDownload& entry : saved) {
    if (s.FindDownloadByName(entry.name)) continue;
    Download* download = s.AddDownload(entry.name, entry.size);
    download->RequestFile(entry.name, entry.hash, entry.size, std::string());
    download->Restored(entry.sources, entry.whole);
  }
}

void Transfers::SaveDownloadsNow() {
  state_->SaveNow();
}

void Transfers::NeighbourAdded() {
  for (auto& download : state_->receivers)
    download->NeighbourAdded();
}

void Transfers::CancelTransfer(bool uploads, std::size_t row) {
  State& s = *state_;
  if (uploads) {
    if (Upload* upload = s.ByRow(s.senders, s.context.upload_rows, row))
      upload->SetStatus(true, true);
  } else if (Download* download = s.ByRow(s.receivers, s.context.download_rows, row)) {
    download->SetStatus(true, true);
  }
}

void Transfers::PauseDownload(std::size_t row) {
  State& s = *state_;
  if (Download* download = s.ByRow(s.receivers, s.context.download_rows, row)) download->PauseMe();
}

void Transfers::FindMoreSources(std::size_t row) {
  State& s = *state_;
  if (Download* download = s.ByRow(s.receivers, s.context.download_rows, row)) {
    download->SourceFindMore();
  }
}

void Transfers::ClearTransfers(bool uploads, bool errors) {
  state_->context.ClearRows(uploads, errors);
}

void Transfers::SetAutomaticClear(bool downloads, bool uploads) {
  state_->context.clear_downloads = downloads;
  state_->context.clear_uploads = uploads;
}

void Transfers::HandleSearchDownload(const std::string& sender, std::string_view payload) {
  State& s = *state_;
  const auto fields = SplitFields(payload);
  if (fields.size() < 4) return;
  const auto port = ParseDecimal<std::uint16_t>(fields[1]);
  if (!port || *port == 0) return;
  for (const SharedFile& file : s.context.files.rows) {
    if (SameText(file.file_name, fields[0]) && SameText(file.hash, fields[3])) {
      // The row's own file: the request's spelling may differ in case.
      s.StartUpload(sender, file.FullPath(), std::string(fields[2]), *port);
      return;
    }
  }
  s.context.messages.QueueMessage(
      "MiscError: Could not find that file in " + s.context.prefs.Nickname + "'s Shared Files!",
      sender);
}

void Transfers::HandleSourceSearch(const std::string& sender, std::string_view payload) {
  State& s = *state_;
  const auto fields = SplitFields(payload);
  if (fields.size() < 3) return;
  s.context.messages.QueueMessage(
      "SourceData:" + std::string(fields[0]) + "|" + s.context.peers.NeighbourList(), sender);
  for (const SharedFile& file : s.context.files.rows) {
    if (SameText(file.file_name, fields[0]) && SameText(file.hash, fields[1]) &&
        SameText(std::to_string(file.size), fields[2])) {
      const auto rate = [](double value) {
        return FormatHundredths(static_cast<std::int64_t>(std::llround(value * 100)));
      };
      s.context.messages.QueueMessage("SourceFound:" + file.file_name + "|" + file.hash + "|" +
                                          rate(s.context.prefs.AverageUploadRate) + "|" +
                                          rate(s.context.prefs.BestUploadRate),
                                      sender);
      return;
    }
  }
}

void Transfers::HandleSourceData(const std::string& sender, std::string_view payload) {
  State& s = *state_;
  const auto fields = SplitFields(payload);
  Download* download = s.FindDownloadByName(fields[0]);
  // Only a peer this download asked may widen its search.
  if (!download || !download->SourceSearchedAlready(sender)) return;
  std::size_t asked = 0;
  for (std::size_t i = 1; i < fields.size() && asked < kMaxListedSources; ++i) {
    const std::string address(fields[i]);
    if (address.empty() || !IsHostAddress(address)) continue;
    ++asked;
    if (!download->SourceSearchedAlready(address)) download->SourceSearchUser(address);
  }
}

void Transfers::HandleSourceFound(const std::string& sender, std::string_view payload) {
  State& s = *state_;
  const auto fields = SplitFields(payload);
  if (fields.size() < 4) return;
  Download* download = s.FindDownloadByName(fields[0]);
  if (!download) return;
  download->SourceAddSearched(sender);
  download->SourceFound(sender, std::string(fields[1]), std::string(fields[2]),
                        std::string(fields[3]));
}

const std::vector<TransferRow>& Transfers::download_rows() const {
  return state_->context.download_rows;
}

const std::vector<TransferRow>& Transfers::upload_rows() const {
  return state_->context.upload_rows;
}

std::vector<TransferSource> Transfers::Sources(std::size_t download_row) const {
  State& s = *state_;
  if (Download* download = s.ByRow(s.receivers, s.context.download_rows, download_row)) {
    return download->sources();
  }
  return {};
}

void Transfers::SetChangeListener(std::function<void()> listener) {
  state_->context.listener = std::move(listener);
}

void Transfers::OnIncoming(std::unique_ptr<StreamSocket> stream) {
  State& s = *state_;
  const std::string peer = stream->PeerAddress();
  bool expected = false;
  for (auto& download : s.receivers)
    expected = expected || download->SourceIPAllow(peer);
  // Nobody expects this peer: dropping the stream closes it at once.
  if (!expected) return;
  if (s.waiting.size() >= kMaxWaitingConnections) {
    s.context.Dispose(std::move(s.waiting.front()->stream()));
    s.waiting.erase(s.waiting.begin());
  }
  s.waiting.push_back(std::make_shared<WaitingConnection>(
      std::move(stream), [&s](WaitingConnection& connection, HeaderReader::State state) {
        s.HeaderArrived(connection, state);
      }));
}

}  // namespace zorvex
