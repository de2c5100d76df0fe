#pragma once
// One node of the network: the message layer, the dispatcher, the peer table with its bootstrap
// and liveness, the preferences, and the models the user sees. It reaches the world only through
// the Runtime it is given, so the same node runs on the Qt platform and in the simulator.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/runtime.h"
#include "core/version.h"
#include "settings/preferences.h"
#include "transfer/transfers.h"

namespace zorvex {

struct NodeOptions {
  std::filesystem::path home;  // program folder: prefs.dll, FileDatabase.dll, Downloads/
  // Desktop duties run by the preference routines; empty functions do nothing (headless).
  std::function<void()> register_url_protocol = {};
  std::function<void(bool on)> set_start_with_desktop = {};
  // The settings dialog, when a scan finds nothing to share; nothing headless.
  std::function<void()> open_settings = {};
  // For network studies only (tools/network_study), never stored or shown; the defaults send
  // what the protocol says, byte for byte. Every hop count of the connection walk scaled to
  // this percentage:
  int walk_hops_percent = 100;
  // How many nodes one search, and one download's source search, ask at most; 0 keeps the
  // built-in bounds (kMaxSearchedUsers, kMaxSourcePeersAsked).
  std::size_t ask_limit = 0;
};

// Why start-up would open the first-run wizard.
enum class MissingEssential { kGatewayList, kNickname, kDownloadFolder, kAddress };

enum class StartResult { kStarted, kBindFailed, kNeedsSettings };

struct NeighbourView {
  std::string address;
  bool confirmed = true;
};

// A copy of what the node shows, for status displays and tests.
struct NodeSnapshot {
  std::string nickname;
  std::string my_ip;
  std::string status_line;
  std::string queue_display;  // "outgoing - incoming"
  std::vector<NeighbourView> neighbours;
  std::int16_t max_connections = 0;
  bool connected = false;  // the connection indicator
  int strength = 0;        // neighbours / MaxConnections * 100
  std::uint32_t packets_in = 0;
  std::uint32_t packets_out = 0;
  std::uint32_t packets_bad = 0;
  std::vector<std::string> host_cache;  // the non-empty slots, in slot order
  bool bootstrap_running = false;

  std::size_t shared_count = 0;
  std::string shared_total;  // as shown, e.g. "1.5 Gbs"
  bool scanning = false;

  struct Result {
    std::string file_name;
    std::string type;
    std::string size_text;
    std::int32_t size = 0;
    std::string hash;
    std::string username;
    std::string speed;
    std::string media_info;
    std::string source;
  };
  bool search_running = false;
  std::string search_query;   // as shown
  std::string search_status;  // "Searching...", "Finished", ...
  std::size_t users_searched = 0;
  std::vector<Result> results;

  struct Download {
    TransferRow row;
    std::vector<TransferSource> sources;
  };
  std::vector<Download> downloads;
  std::vector<TransferRow> uploads;

  bool away = false;
  std::string away_caption;
  struct Conversation {
    std::string address;
    std::string nickname;  // `WhoIs`
    std::string text;      // the lines joined by CR LF
    bool visible = false;
  };
  std::vector<Conversation> conversations;
  struct Buddy {
    std::string nickname;
    std::string address;
    bool online = false;
    std::string key;  // "u " or "c " and the nickname
  };
  std::vector<Buddy> hotlist;  // in the tree's order
};

class Node {
 public:
  Node(Runtime& runtime, NodeOptions options);
  ~Node();
  Node(const Node&) = delete;
  Node& operator=(const Node&) = delete;

  // Start-up in its steps: bind the message socket on port 620, load the preferences, check
  // what the first-run wizard would ask for, then run (the bootstrap follows one second later).
  bool BindMessageSocket();
  void LoadPreferences();
  std::vector<MissingEssential> MissingEssentials() const;
  void Run();
  // All four in order; stops at the first step that fails.
  StartResult Start();

  // A link command ("zx://get|...", "zx://search|...", "zx://connect|...") as forwarded by a
  // second copy of the program.
  void RunCommand(std::string_view command);

  // The exit sequence: host cache and upload statistics saved, "ConnectDisconnect" to every
  // neighbour, the outgoing queue drained, the socket closed; then `done` runs.
  void Exit(std::function<void()> done);
  // Asked before Exit: while away with conversations loaded, whether to exit anyway; on no,
  // away mode is left. True when the exit may go on.
  bool ConfirmExit();

  // Switches away mode on or off, as clicks on the away link do.
  void SetAway(bool on);
  // Sends a message to the address in its conversation, opening the conversation first when
  // there is none. The refusal's text when the message was not sent.
  std::optional<std::string> SendInstantMessage(const std::string& address, std::string_view text);

  NodeSnapshot Snapshot() const;
  // The gateway page this node can serve: its address, its neighbours and its host cache, each
  // followed by "<br>".
  std::string GatewayPage() const;

  // Called with every new status line text.
  void SetStatusListener(std::function<void(const std::string&)> listener);

  const Preferences& preferences() const;
  Preferences& preferences();
  class IniStore& store();
  std::filesystem::path PreferencesFile() const;

  // The parts, for tests and the desktop client.
  class MessageLayer& messages();
  class PeerTable& peers();
  class Bootstrap& bootstrap();
  class Liveness& liveness();
  class Search& search();
  struct SharedFileTable& shared_files();
  class SharedTotal& shared_total();
  class FolderScan& folder_scan();
  class Transfers& transfers();
  class Conversations& conversations();
  class HotList& hot_list();

  // Downloads a row of the search results, after the checks the search pane makes.
  bool DownloadResult(std::size_t row);

  // The "Hash Buffer:" list: its stored index (none when nothing valid is stored), and a new
  // choice, stored at once; the scan reads it before each file.
  std::optional<int> hash_speed() const;
  void SetHashSpeed(int index);

 private:
  struct Parts;
  std::unique_ptr<Parts> parts_;
};

}  // namespace zorvex
