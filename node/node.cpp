#include "node/node.h"

#include <optional>
#include <system_error>

#include "core/address.h"
#include "core/dispatcher.h"
#include "core/message_layer.h"
#include "core/status.h"
#include "im/conversations.h"
#include "im/hot_list.h"
#include "network/bootstrap.h"
#include "network/liveness.h"
#include "network/peer_table.h"
#include "node/commands.h"
#include "search/search.h"
#include "search/search_server.h"
#include "settings/ini_store.h"
#include "share/file_hash.h"
#include "share/folder_scan.h"
#include "share/format.h"
#include "share/shared_files.h"
#include "transfer/saved_downloads.h"
#include "transfer/transfers.h"

namespace zorvex {

struct Node::Parts final : MessageSink, PreferenceEffects {
  Parts(Runtime& rt, NodeOptions opts)
      : runtime(rt),
        options(std::move(opts)),
        messages(rt, prefs.MyIP, *this),
        peers(messages, prefs, rt.Random()),
        bootstrap(rt, peers, prefs, status),
        liveness(rt, peers, messages, bootstrap),
        search(messages, peers, prefs, rt),
        scan(rt, store, options.home, files, total, status,
             FolderScanHooks{[this] {
                               return !bootstrap.timer_active() && !bootstrap.busy() &&
                                      !prefs.Nickname.empty();
                             },
                             [this] {
                               if (options.open_settings) options.open_settings();
                             },
                             [this] { return HashBlockSize(hash_speed); }}),
        transfers(rt, messages, peers, prefs, files),
        conversations(messages, prefs, rt.Prompts()),
        hot_list(messages, store, options.home / kPreferencesFileName, rt.Prompts()) {
    peers.SetWalkHopsPercent(options.walk_hops_percent);
    if (options.ask_limit > 0) {
      search.SetAskLimit(options.ask_limit);
      transfers.SetSourceAskLimit(options.ask_limit);
    }
    peers.SetOnNeighbourAdded([this] {
      liveness.EnsureRunning();
      transfers.NeighbourAdded();
    });
    if (!options.home.empty())
      transfers.SetSavedDownloadsFile(options.home / kSavedDownloadsFileName);
    peers.SetOfferFacts([this] {
      return OfferFacts{static_cast<int>(files.rows.size()), total.ShownText()};
    });
    liveness.SetHooks({[this] { search.TimeoutTick(); }, [this] { hot_list.PingBuddies(); },
                       [this] { hot_list.CheckBuddies(); }});
    // A bootstrap that finds nothing shared arms the folder scan.
    bootstrap.SetOnIdle([this] {
      if (files.rows.empty()) scan.Arm(1500);
    });
  }

  bool ParseMessage(std::string_view message, const std::string& sender) override;

  void RegisterUrlProtocol() override {
    if (options.register_url_protocol) options.register_url_protocol();
  }
  std::string LocalAddress() override { return messages.LocalAddress(); }
  void StartDownloadListener() override { transfers.StartDownloadListener(); }
  void SetStartWithDesktop(bool on) override {
    if (options.set_start_with_desktop) options.set_start_with_desktop(on);
  }

  std::filesystem::path PrefsFile() const { return options.home / kPreferencesFileName; }

  Runtime& runtime;
  NodeOptions options;
  Preferences prefs;
  IniStore store;
  StatusModel status;
  MessageLayer messages;
  PeerTable peers;
  Bootstrap bootstrap;
  Liveness liveness;
  SharedFileTable files;
  SharedTotal total;
  Search search;
  std::optional<int> hash_speed;  // the "Hash Buffer:" list index
  FolderScan scan;
  Transfers transfers;
  Conversations conversations;
  HotList hot_list;
  bool preferences_loaded = false;
};

bool Node::Parts::ParseMessage(std::string_view message, const std::string& sender) {
  const ClassifiedMessage classified = ClassifyMessage(message);
  switch (classified.kind) {
    case MessageKind::kConnectNew:
      peers.AcceptPeer(sender, classified.payload, true);
      break;
    case MessageKind::kConnectEst:
      peers.AcceptPeer(sender, classified.payload, false);
      break;
    case MessageKind::kConnectRqr:
      peers.HandleConnectRqr(sender, classified.payload);
      break;
    case MessageKind::kConnectDisconnect:
      // When the last neighbour leaves, finding new ones starts at once rather than at the
      // next sweep.
      if (peers.DropPeer(sender, true) && peers.size() == 0) bootstrap.StartConnecting(0);
      break;
    case MessageKind::kConnectIP:
      // Only a neighbour may tell us our address; a stranger could otherwise make us refuse
      // traffic to and from any address it names.
      if (IsHostAddress(classified.payload)) {
        for (const auto& row : peers.rows()) {
          if (SameText(row.address, sender)) {
            prefs.MyIP = std::string(classified.payload);
            break;
          }
        }
      }
      break;
    case MessageKind::kPingPlus:
      liveness.AnswerPing(sender);
      break;
    case MessageKind::kPongPlus:
      liveness.ConfirmPeer(sender);
      break;
    case MessageKind::kPingOther:
      messages.QueueAnswer("Pong-", sender);
      break;
    case MessageKind::kMiscError:
      status.SetStatus("Error Received: " + std::string(classified.payload));
      runtime.Prompts().Beep();
      break;
    case MessageKind::kSearchFor:
      HandleSearchFor(classified.payload, sender, messages, peers, prefs, files);
      break;
    case MessageKind::kSearchList:
      search.HandleSearchList(sender, classified.payload);
      break;
    case MessageKind::kSearchFound:
      search.HandleSearchFound(sender, classified.payload);
      break;
    case MessageKind::kUnknown:
      return false;
    case MessageKind::kSearchDownload:
      transfers.HandleSearchDownload(sender, classified.payload);
      break;
    case MessageKind::kSourceSearch:
      transfers.HandleSourceSearch(sender, classified.payload);
      break;
    case MessageKind::kSourceData:
      transfers.HandleSourceData(sender, classified.payload);
      break;
    case MessageKind::kSourceFound:
      transfers.HandleSourceFound(sender, classified.payload);
      break;
    case MessageKind::kPongOther:
      hot_list.BuddyAnswered(sender);
      break;
    case MessageKind::kMiscIM:
      conversations.ReceiveFromNetwork(sender, classified.payload);
      break;
    case MessageKind::kIgnored:
      break;
  }
  return true;
}

Node::Node(Runtime& runtime, NodeOptions options)
    : parts_(std::make_unique<Parts>(runtime, std::move(options))) {}

Node::~Node() = default;

bool Node::BindMessageSocket() {
  return parts_->messages.Bind();
}

void Node::LoadPreferences() {
  zorvex::LoadPreferences(parts_->store, parts_->PrefsFile(), parts_->prefs, *parts_);
  LoadUploadStatistics(parts_->store, parts_->PrefsFile(), parts_->prefs);
  LoadRateLimits(parts_->store, parts_->PrefsFile(), parts_->prefs);
  parts_->transfers.ApplyRateLimits();
  parts_->transfers.SetAutomaticClear(
      parts_->store.ReadINI(keys::kAutomaticDownloadClear.section,
                            keys::kAutomaticDownloadClear.key, parts_->PrefsFile()) == "1",
      parts_->store.ReadINI(keys::kAutomaticUploadClear.section, keys::kAutomaticUploadClear.key,
                            parts_->PrefsFile()) == "1");
  parts_->hash_speed = ParseInt16(
      parts_->store.ReadINI(keys::kHashSpeed.section, keys::kHashSpeed.key, parts_->PrefsFile()));
  parts_->preferences_loaded = true;
}

std::vector<MissingEssential> Node::MissingEssentials() const {
  const Preferences& prefs = parts_->prefs;
  std::vector<MissingEssential> missing;
  if (prefs.GatewayList.empty()) missing.push_back(MissingEssential::kGatewayList);
  if (prefs.Nickname.empty()) missing.push_back(MissingEssential::kNickname);
  std::error_code ec;
  if (prefs.DLDir.empty() || !std::filesystem::is_directory(prefs.DLDir, ec)) {
    missing.push_back(MissingEssential::kDownloadFolder);
  }
  if (prefs.MyIP.empty()) missing.push_back(MissingEssential::kAddress);
  return missing;
}

void Node::Run() {
  parts_->hot_list.LoadHotList();
  parts_->hot_list.PingBuddies();
  parts_->transfers.RestoreDownloads();
  parts_->bootstrap.StartConnecting(1000);
}

StartResult Node::Start() {
  if (!BindMessageSocket()) return StartResult::kBindFailed;
  LoadPreferences();
  if (!MissingEssentials().empty()) return StartResult::kNeedsSettings;
  Run();
  return StartResult::kStarted;
}

void Node::RunCommand(std::string_view text) {
  UserPrompts& prompts = parts_->runtime.Prompts();
  const Command command = ParseCommand(text);
  if (const auto* connect = std::get_if<ConnectCommand>(&command)) {
    parts_->peers.SendConnectNew(connect->address);
  } else if (const auto* search = std::get_if<SearchCommand>(&command)) {
    parts_->search.SearchIt(search->text);
  } else if (const auto* get = std::get_if<GetCommand>(&command)) {
    parts_->transfers.StartDownload(get->name, get->size, get->hash, "");
  } else if (std::holds_alternative<InvalidHashSize>(command)) {
    prompts.MessageBox("Invalid Hash Size!", kAppTitle, PromptIcon::kCritical);
  } else if (std::holds_alternative<InvalidCommand>(command)) {
    prompts.MessageBox("Invalid Command!", kAppTitle, PromptIcon::kNone);
  }
}

void Node::Exit(std::function<void()> done) {
  Parts& p = *parts_;
  if (p.preferences_loaded) {
    SaveHostCache(p.store, p.PrefsFile(), p.prefs);
    SaveUploadStatistics(p.store, p.PrefsFile(), p.prefs);
  }
  p.transfers.SaveDownloadsNow();
  for (const auto& row : p.peers.rows())
    p.messages.QueueMessage("ConnectDisconnect", row.address);
  p.messages.Tick();
  p.messages.Shutdown();
  p.liveness.Stop();
  p.bootstrap.Stop();
  if (done) done();
}

bool Node::ConfirmExit() {
  return parts_->conversations.ConfirmExit();
}

void Node::SetAway(bool on) {
  if (parts_->conversations.away() != on) parts_->conversations.ToggleAway();
}

std::optional<std::string> Node::SendInstantMessage(const std::string& address,
                                                    std::string_view text) {
  Conversations& conversations = parts_->conversations;
  const Conversation* conversation = conversations.FindByAddress(address);
  if (!conversation) {
    // Refused before a conversation is opened for nothing.
    if (IsBlankImText(text)) {
      parts_->runtime.Prompts().MessageBox(kInvalidImText, kAppTitle, PromptIcon::kCritical);
      return std::string(kInvalidImText);
    }
    conversations.ReceiveIM(address, parts_->hot_list.NicknameOf(address) + "|");
    conversation = conversations.FindByAddress(address);
    if (!conversation) {
      return std::string(conversations.away() ? kAwayRefusal : kTooManyConversations);
    }
  }
  switch (conversations.Send(conversation->id, text)) {
    case SendResult::kSent:
      return std::nullopt;
    case SendResult::kInvalidText:
      return std::string(kInvalidImText);
    case SendResult::kNoConversation:
      break;
  }
  return std::string(kTooManyConversations);
}

NodeSnapshot Node::Snapshot() const {
  const Parts& p = *parts_;
  NodeSnapshot snapshot;
  snapshot.nickname = p.prefs.Nickname;
  snapshot.my_ip = p.prefs.MyIP;
  snapshot.status_line = p.status.line();
  snapshot.queue_display = p.messages.QueueDisplay();
  for (const auto& row : p.peers.rows())
    snapshot.neighbours.push_back({row.address, row.confirmed});
  snapshot.max_connections = p.prefs.MaxConnections;
  snapshot.connected = p.peers.connected();
  snapshot.strength = p.peers.strength();
  snapshot.packets_in = p.messages.counters().in;
  snapshot.packets_out = p.messages.counters().out;
  snapshot.packets_bad = p.messages.counters().bad;
  for (const auto& slot : p.prefs.HostCache) {
    if (!slot.empty()) snapshot.host_cache.push_back(slot);
  }
  snapshot.bootstrap_running = p.bootstrap.busy();
  snapshot.shared_count = p.scan.shared_count();
  snapshot.shared_total = p.total.ShownText();
  snapshot.scanning = p.scan.scanning();
  snapshot.search_running = p.search.running();
  snapshot.search_query = p.search.shown_query();
  snapshot.search_status = std::string(SearchStatusText(p.search.status()));
  snapshot.users_searched = p.search.shown_searched_count();
  for (const SearchResult& r : p.search.results()) {
    snapshot.results.push_back({r.file_name, r.type, r.size_text, r.size, r.hash, r.username,
                                r.speed, r.media_info, r.source});
  }
  for (std::size_t i = 0; i < p.transfers.download_rows().size(); ++i) {
    snapshot.downloads.push_back({p.transfers.download_rows()[i], p.transfers.Sources(i)});
  }
  snapshot.uploads = p.transfers.upload_rows();
  snapshot.away = p.conversations.away();
  snapshot.away_caption = p.conversations.away_caption();
  for (const Conversation& c : p.conversations.conversations()) {
    snapshot.conversations.push_back(
        {c.tag.substr(kConversationTagPrefix.size()), c.who_is, c.text, c.visible});
  }
  for (const HotListNode& node : p.hot_list.nodes()) {
    if (node.IsBuddy()) {
      snapshot.hotlist.push_back({node.text, node.tag, p.hot_list.IsOnline(node), node.key});
    }
  }
  return snapshot;
}

bool Node::DownloadResult(std::size_t row) {
  Parts& p = *parts_;
  std::error_code ec;
  const bool folder = !p.prefs.DLDir.empty() && std::filesystem::is_directory(p.prefs.DLDir, ec);
  const auto request = p.search.Download(row, folder, !p.files.rows.empty());
  return request && p.transfers.StartDownload(request->file_name, request->size, request->hash,
                                              request->source);
}

std::optional<int> Node::hash_speed() const {
  return parts_->hash_speed;
}

void Node::SetHashSpeed(int index) {
  parts_->hash_speed = index;
  parts_->store.WriteINI(keys::kHashSpeed.section, keys::kHashSpeed.key, std::to_string(index),
                         parts_->PrefsFile());
}

std::string Node::GatewayPage() const {
  const Parts& p = *parts_;
  std::vector<std::string> listed;
  auto add = [&listed](const std::string& address) {
    if (address.empty() || !IsHostAddress(address)) return;
    for (const auto& seen : listed) {
      if (SameText(seen, address)) return;
    }
    listed.push_back(address);
  };
  add(p.prefs.MyIP);
  for (const auto& row : p.peers.rows())
    add(row.address);
  for (std::size_t slot = 0; slot < kHostCacheSavedSlots; ++slot)
    add(p.prefs.HostCache[slot]);
  std::string page;
  for (const auto& address : listed)
    page.append(address).append("<br>");
  return page;
}

void Node::SetStatusListener(std::function<void(const std::string&)> listener) {
  parts_->status.SetListener(std::move(listener));
}

const Preferences& Node::preferences() const {
  return parts_->prefs;
}
Preferences& Node::preferences() {
  return parts_->prefs;
}
IniStore& Node::store() {
  return parts_->store;
}
std::filesystem::path Node::PreferencesFile() const {
  return parts_->PrefsFile();
}
MessageLayer& Node::messages() {
  return parts_->messages;
}
PeerTable& Node::peers() {
  return parts_->peers;
}
Bootstrap& Node::bootstrap() {
  return parts_->bootstrap;
}
Liveness& Node::liveness() {
  return parts_->liveness;
}
Search& Node::search() {
  return parts_->search;
}
SharedFileTable& Node::shared_files() {
  return parts_->files;
}
SharedTotal& Node::shared_total() {
  return parts_->total;
}
FolderScan& Node::folder_scan() {
  return parts_->scan;
}
Transfers& Node::transfers() {
  return parts_->transfers;
}
Conversations& Node::conversations() {
  return parts_->conversations;
}
HotList& Node::hot_list() {
  return parts_->hot_list;
}

}  // namespace zorvex
