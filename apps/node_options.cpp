#include "apps/node_options.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <set>
#include <string_view>
#include <system_error>

#include "core/address.h"
#include "settings/ini_store.h"

namespace zorvex {
namespace {

// The headless node has no desktop duties and no listener of its own here.
class NoEffects final : public PreferenceEffects {
 public:
  void RegisterUrlProtocol() override {}
  std::string LocalAddress() override { return {}; }
  void StartDownloadListener() override {}
  void SetStartWithDesktop(bool) override {}
};

bool IsDigits(std::string_view text) {
  return text.find_first_not_of("0123456789") == std::string_view::npos;
}

// A folder as stored: absolute, normalised, ending in "/".
std::string FolderValue(std::string_view text) {
  std::error_code error;
  std::filesystem::path path = std::filesystem::absolute(std::filesystem::path(text), error);
  if (error) path = std::filesystem::path(text);
  std::string value = path.lexically_normal().string();
  if (value.empty() || value.back() != '/') value.push_back('/');
  return value;
}

constexpr std::array<std::string_view, 17> kValueOptions = {
    "home",           "bind",           "nickname",    "connection",   "share",
    "download-dir",   "download-port",  "max-uploads", "max-per-user", "gateway",
    "serve-gateway",  "search",         "category",    "get",          "upload-limit",
    "download-limit", "sources-at-once"};

// Applies one option with its value; an error message on a bad value.
std::optional<std::string> ApplyOption(std::string_view name, const std::string& value,
                                       NodeCommandLine& line) {
  PreferenceOptions& prefs = line.preferences;
  const std::string option = "--" + std::string(name);
  if (name == "home") {
    if (value.empty()) return option + " needs a folder";
    line.home = std::filesystem::path(FolderValue(value)).parent_path();
  } else if (name == "bind") {
    if (!IsDottedIPv4(value)) return option + " needs a dotted IPv4 address, such as 127.0.0.2";
    line.bind = value == "0.0.0.0" ? std::string() : value;
  } else if (name == "nickname") {
    prefs.nickname = value;
  } else if (name == "connection") {
    if (value.size() != 1 || !IsDigits(value)) return option + " takes a number from 0 to 9";
    prefs.connection = value[0] - '0';
  } else if (name == "share") {
    if (value.empty()) return option + " needs a folder";
    prefs.shares.push_back(FolderValue(value));
  } else if (name == "download-dir") {
    if (value.empty()) return option + " needs a folder";
    prefs.download_dir = FolderValue(value);
  } else if (name == "download-port" || name == "max-uploads" || name == "max-per-user") {
    // Digits only, as the settings fields accept while typing.
    if (!IsDigits(value)) return option + " takes a whole number";
    if (name == "download-port") prefs.download_port = value;
    if (name == "max-uploads") prefs.max_uploads = value;
    if (name == "max-per-user") prefs.max_per_user = value;
  } else if (name == "upload-limit" || name == "download-limit") {
    const auto limit = IsDigits(value) ? ParseRateLimit(value) : std::nullopt;
    if (!limit) return option + " takes KB/s from 0 (unlimited) to 1000000";
    (name == "upload-limit" ? prefs.upload_limit : prefs.download_limit) = *limit;
  } else if (name == "sources-at-once") {
    if (value.size() != 1 || value[0] < '1' || value[0] > '8') {
      return option + " takes a number from 1 to 8";
    }
    prefs.sources_at_once = value[0] - '0';
  } else if (name == "gateway") {
    // The first "=" separates: addresses may carry queries with "=" in them.
    const auto equals = value.find('=');
    Gateway gateway;
    if (equals != std::string::npos) {
      gateway = {value.substr(0, equals), value.substr(equals + 1)};
    }
    if (gateway.name.empty() || gateway.address.empty()) {
      return option + " takes NAME=ADDRESS";
    }
    // These separate the stored list's entries and parts.
    if (value.find_first_of("*|") != std::string::npos) {
      return option + " may not contain \"*\" or \"|\"";
    }
    prefs.gateways.push_back(std::move(gateway));
  } else if (name == "search") {
    if (value.empty()) return option + " needs the text to search for";
    line.search = value;
  } else if (name == "get") {
    if (value.empty()) return option + " needs a zx://get|name|size|hash| link";
    line.get = value;
  } else if (name == "category") {
    if (value.size() != 1 || value[0] < '0' || value[0] > '5') {
      return option + " takes a number from 0 (any) to 5";
    }
    line.category = value[0] - '0';
  } else if (name == "serve-gateway") {
    const auto colon = value.rfind(':');
    const std::string host = value.substr(0, colon == std::string::npos ? 0 : colon);
    const std::string port_text = colon == std::string::npos ? "" : value.substr(colon + 1);
    int port = 0;
    const bool port_ok =
        !port_text.empty() && port_text.size() <= 5 && IsDigits(port_text) &&
        std::from_chars(port_text.data(), port_text.data() + port_text.size(), port).ec ==
            std::errc{} &&
        port >= 1 && port <= 65535;
    if (!IsDottedIPv4(host) || !port_ok) {
      return option + " takes ADDR:PORT, such as 127.0.0.2:8080";
    }
    line.gateway_host = host;
    line.gateway_port = static_cast<std::uint16_t>(port);
  }
  return std::nullopt;
}

// The options that talk to the running copy's conversations and hot list. Returns whether `arg`
// was one of them; `i` moves past the values taken.
bool ParseRequestOption(const std::vector<std::string>& args, std::size_t& i, NodeCommandLine& line,
                        std::string& error) {
  const std::string& arg = args[i];
  const auto equals = arg.find('=');
  const std::string name = arg.substr(0, equals);
  std::optional<std::string> inline_value;
  if (equals != std::string::npos) inline_value = arg.substr(equals + 1);
  if (name != "--away" && name != "--im" && name != "--buddy" && name != "--unbuddy") return false;

  auto next = [&]() -> std::optional<std::string> {
    if (i + 1 >= args.size()) return std::nullopt;
    return args[++i];
  };
  NodeRequest request;
  if (name == "--away") {
    std::optional<std::string> value = inline_value;
    if (!value && i + 1 < args.size() && (args[i + 1] == "on" || args[i + 1] == "off")) {
      value = next();
    }
    if (!value) {
      line.start_away = true;
      return true;
    }
    if (*value != "on" && *value != "off") {
      error = "--away takes on or off, or nothing to start in away mode";
      return true;
    }
    request.kind = NodeRequest::Kind::kAway;
    request.on = *value == "on";
  } else if (name == "--im") {
    std::optional<std::string> address = inline_value ? inline_value : next();
    std::optional<std::string> text = next();
    if (!address || !text) {
      error = "--im takes ADDRESS TEXT";
      return true;
    }
    if (!IsDottedIPv4(*address)) {
      error = "--im needs a dotted IPv4 address, such as 127.0.0.2";
      return true;
    }
    request.kind = NodeRequest::Kind::kIm;
    request.address = *address;
    request.text = *text;
  } else if (name == "--buddy") {
    const std::optional<std::string> value = inline_value ? inline_value : next();
    const auto last = value ? value->rfind('=') : std::string::npos;
    if (last == std::string::npos || last == 0 || !IsDottedIPv4(value->substr(last + 1))) {
      error = "--buddy takes NICK=ADDRESS, such as bob=127.0.0.2";
      return true;
    }
    request.kind = NodeRequest::Kind::kBuddy;
    request.nickname = value->substr(0, last);
    request.address = value->substr(last + 1);
    // These separate the stored list's entries and parts.
    if (request.nickname.find_first_of("~|") != std::string::npos) {
      error = "--buddy: a nickname may not contain \"|\" or \"~\"";
      return true;
    }
  } else {
    const std::optional<std::string> value = inline_value ? inline_value : next();
    if (!value || value->empty()) {
      error = "--unbuddy takes ADDRESS";
      return true;
    }
    request.kind = NodeRequest::Kind::kUnbuddy;
    request.address = *value;
  }
  if (line.request) {
    error = "give one of --away on|off, --im, --buddy, --unbuddy at a time";
    return true;
  }
  line.request = std::move(request);
  return true;
}

}  // namespace

bool PreferenceOptions::Any() const {
  return nickname || connection || !shares.empty() || download_dir || download_port ||
         max_uploads || max_per_user || !gateways.empty() || upload_limit || download_limit ||
         sources_at_once;
}

std::optional<NodeCommandLine> ParseNodeCommandLine(const std::vector<std::string>& args,
                                                    std::string& error) {
  NodeCommandLine line;
  std::vector<std::string> words;
  bool options_done = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (options_done || arg.empty() || arg[0] != '-' || arg == "-") {
      words.push_back(arg);
      continue;
    }
    if (arg == "--") {
      options_done = true;
      continue;
    }
    if (arg == "-h" || arg == "--help") {
      line.help = true;
      continue;
    }
    if (arg == "--status") {
      line.status = true;
      continue;
    }
    if (!arg.starts_with("--")) {
      error = "unknown option " + arg;
      return std::nullopt;
    }
    if (ParseRequestOption(args, i, line, error)) {
      if (!error.empty()) return std::nullopt;
      continue;
    }
    const auto equals = arg.find('=');
    const std::string name = arg.substr(2, equals == std::string::npos ? arg.npos : equals - 2);
    if (std::find(kValueOptions.begin(), kValueOptions.end(), name) == kValueOptions.end()) {
      error = "unknown option --" + name;
      return std::nullopt;
    }
    std::string value;
    if (equals != std::string::npos) {
      value = arg.substr(equals + 1);
    } else if (i + 1 < args.size()) {
      value = args[++i];
    } else {
      error = "--" + name + " needs a value";
      return std::nullopt;
    }
    if (auto problem = ApplyOption(name, value, line)) {
      error = std::move(*problem);
      return std::nullopt;
    }
  }
  // A link command is one argument; split words are joined as one command line.
  for (const auto& word : words) {
    if (!line.command.empty()) line.command.push_back(' ');
    line.command += word;
  }
  return line;
}

std::string NodeUsage() {
  return "Usage: zorvex-node [options] [zx://command]\n"
         "Runs one Zorvex node without a window until SIGINT or SIGTERM.\n"
         "\n"
         "  --home DIR              program folder (default $XDG_DATA_HOME/zorvex)\n"
         "  --bind ADDR             IPv4 address to bind (default: every address)\n"
         "  --status                print the running copy's state as JSON\n"
         "  --serve-gateway ADDR:PORT  also serve GET /gateway.php there\n"
         "  --search TEXT           search once there is a neighbour, print each result as a\n"
         "                          tab-separated line, end when the search ends\n"
         "  --category N            the search's category, 0 (any) to 5\n"
         "  --get 'zx://get|NAME|SIZE|HASH|'  download once there is a neighbour, print the\n"
         "                          row's progress every second, end when it ends\n"
         "  --away                  start in away mode\n"
         "Preferences, saved in <home>/prefs.dll:\n"
         "  --nickname NAME         4 or more letters, without | or ~\n"
         "  --connection N          connection speed 0-9 (0 Unknown ... 9 T3)\n"
         "  --share DIR             a shared folder (repeat for more)\n"
         "  --download-dir DIR      download folder\n"
         "  --download-port N       TCP port for downloads\n"
         "  --max-uploads N         uploads at once (1-10)\n"
         "  --max-per-user N        uploads per user (1-10)\n"
         "  --gateway NAME=ADDRESS  a gateway page (repeat for more)\n"
         "  --upload-limit N        KB/s shared by all uploads (0: unlimited)\n"
         "  --download-limit N      KB/s shared by all downloads (0: unlimited)\n"
         "  --sources-at-once N     sources one download fetches ranges from at once, 1-8\n"
         "                          (default 1: one source at a time)\n"
         "Told to the running copy for the same home:\n"
         "  --away on|off           switch away mode\n"
         "  --im ADDRESS TEXT       send an instant message\n"
         "  --buddy NICK=ADDRESS    add a buddy to the hot list\n"
         "  --unbuddy ADDRESS       remove every buddy with that address\n"
         "\n"
         "With a running copy for the same home, a zx:// command is handed to it.\n";
}

std::string DefaultDownloadFolder(const std::filesystem::path& home) {
  return FolderValue((home / "Downloads").string());
}

std::optional<std::string> ApplyPreferenceOptions(const std::filesystem::path& home,
                                                  const PreferenceOptions& options,
                                                  const FolderExists& folder_exists) {
  std::error_code error;
  std::filesystem::create_directories(home, error);
  const std::filesystem::path file = home / std::string(kPreferencesFileName);
  IniStore store;
  NoEffects effects;
  Preferences prefs;
  LoadPreferences(store, file, prefs, effects);
  // Saving the values writes the limits too: they must be the stored ones.
  LoadRateLimits(store, file, prefs);
  SettingsValues values = LoadSettingsValues(store, file, prefs);

  // What the first-run wizard would put in, for values never stored.
  bool changed = false;
  const auto fill = [&](PreferenceKey key, std::string& value, std::string fallback) {
    if (store.ReadINI(key.section, key.key, file).empty()) {
      value = std::move(fallback);
      changed = true;
    }
  };
  fill(keys::kMaxULs, values.max_uls, "3");
  fill(keys::kMaxULUsers, values.max_per_user, "1");
  fill(keys::kDownloadPort, values.download_port, "5503");
  fill(keys::kDLDir, values.download_folder, DefaultDownloadFolder(home));
  if (values.gateways.empty()) {
    values.gateways.push_back(
        {std::string(kDefaultGatewayName), std::string(kDefaultGatewayAddress)});
    changed = true;
  }

  // Pages whose fields an option sets are checked, in page order.
  std::set<int> pages;
  if (options.nickname) {
    values.nickname = *options.nickname;
    pages.insert(0);
  }
  if (options.connection) values.connection = *options.connection;
  if (options.max_uploads) {
    values.max_uls = *options.max_uploads;
    pages.insert(1);
  }
  if (options.max_per_user) {
    values.max_per_user = *options.max_per_user;
    pages.insert(1);
  }
  if (!options.shares.empty()) {
    values.shared_folders = options.shares;
    pages.insert(2);
  }
  if (options.download_dir) {
    values.download_folder = *options.download_dir;
    pages.insert(3);
  }
  if (options.download_port) {
    values.download_port = *options.download_port;
    pages.insert(3);
  }
  if (!options.gateways.empty()) {
    values.gateways = options.gateways;
    pages.insert(4);
  }
  changed = changed || options.Any();

  if (values.download_folder == DefaultDownloadFolder(home)) {
    std::filesystem::create_directories(values.download_folder, error);
  }
  for (const int page : pages) {
    if (auto message = ValidatePage(page, values, folder_exists)) return message;
  }
  if (changed) SavePreferences(store, file, values, prefs, effects);
  if (options.upload_limit || options.download_limit || options.sources_at_once) {
    LoadRateLimits(store, file, prefs);
    if (options.upload_limit) prefs.UploadLimit = *options.upload_limit;
    if (options.download_limit) prefs.DownloadLimit = *options.download_limit;
    if (options.sources_at_once) prefs.SourcesAtOnce = *options.sources_at_once;
    SaveRateLimits(store, file, prefs);
  }
  return std::nullopt;
}

std::string MissingEssentialsMessage(const std::vector<MissingEssential>& missing) {
  std::string text = "The settings are incomplete; give these options:\n";
  for (const MissingEssential essential : missing) {
    switch (essential) {
      case MissingEssential::kNickname:
        text += "  --nickname NAME         no nickname yet (4 or more letters)\n";
        break;
      case MissingEssential::kDownloadFolder:
        text += "  --download-dir DIR      no download folder, or it does not exist\n";
        break;
      case MissingEssential::kGatewayList:
        text += "  --gateway NAME=ADDRESS  no gateway to connect to\n";
        break;
      case MissingEssential::kAddress:
        text += "  --bind ADDR             no local IPv4 address found\n";
        break;
    }
  }
  return text;
}

}  // namespace zorvex
