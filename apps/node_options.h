#pragma once
// The headless node's command line, and how its preference options become stored settings.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "apps/node_requests.h"
#include "node/node.h"
#include "settings/preferences.h"
#include "settings/validation.h"

namespace zorvex {

inline constexpr std::string_view kDefaultGatewayName = "Zorvex's Main Gateway";
inline constexpr std::string_view kDefaultGatewayAddress = "gateway.zorvex.net/gateway.php";

// Options that change stored preferences; absent ones keep what is stored.
struct PreferenceOptions {
  std::optional<std::string> nickname;
  std::optional<int> connection;
  std::vector<std::string> shares;  // when given, replace the stored list
  std::optional<std::string> download_dir;
  // Numbers stay texts: the settings checks read them.
  std::optional<std::string> download_port;
  std::optional<std::string> max_uploads;
  std::optional<std::string> max_per_user;
  std::vector<Gateway> gateways;             // when given, replace the stored list
  std::optional<std::int32_t> upload_limit;  // KB/s, 0 unlimited
  std::optional<std::int32_t> download_limit;
  std::optional<std::int32_t> sources_at_once;  // 1 to 8

  bool Any() const;
};

struct NodeCommandLine {
  std::optional<std::filesystem::path> home;
  std::string bind;  // empty: every address
  bool status = false;
  bool help = false;
  std::optional<std::string> gateway_host;  // --serve-gateway
  std::uint16_t gateway_port = 0;
  std::string command;                 // a link command for the running copy
  std::optional<std::string> search;   // --search: search once, print results, end
  int category = 0;                    // --category for --search
  std::optional<std::string> get;      // --get: download one link, print progress, end
  bool start_away = false;             // --away without on|off: start in away mode
  std::optional<NodeRequest> request;  // --away on|off, --im, --buddy, --unbuddy
  PreferenceOptions preferences;
};

// Parses the arguments after the program name. Folders given are made absolute and end in "/".
// On a usage error returns nothing and sets `error` to a one-line message.
std::optional<NodeCommandLine> ParseNodeCommandLine(const std::vector<std::string>& args,
                                                    std::string& error);

std::string NodeUsage();

// "<home>/Downloads/".
std::string DefaultDownloadFolder(const std::filesystem::path& home);

// Merges the options over the settings stored in <home>/prefs.dll, fills what was never stored
// with the first-run defaults (3 uploads, 1 per user, port 5503, <home>/Downloads/, the default
// gateway), checks the pages the options touch and saves. Creates the default download folder
// when it is the one in use. Returns the check's message when one fails; nothing is saved then.
std::optional<std::string> ApplyPreferenceOptions(
    const std::filesystem::path& home, const PreferenceOptions& options,
    const FolderExists& folder_exists = FolderExistsOnDisk);

// What to tell the user when start-up lacks essentials: one line each, naming the option to give.
std::string MissingEssentialsMessage(const std::vector<MissingEssential>& missing);

}  // namespace zorvex
