#include "settings/preferences.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

#include "core/fields.h"
#include "settings/ini_store.h"

namespace zorvex {
namespace {

std::string Read(IniStore& store, const std::filesystem::path& file, PreferenceKey key) {
  return store.ReadINI(key.section, key.key, file);
}

void Write(IniStore& store, const std::filesystem::path& file, PreferenceKey key,
           std::string_view value) {
  store.WriteINI(key.section, key.key, value, file);
}

template <typename Field, typename Parser>
void ReadNumber(IniStore& store, const std::filesystem::path& file, PreferenceKey key, Field& field,
                Parser parse) {
  if (const auto value = parse(Read(store, file, key))) field = *value;
}

}  // namespace

std::int16_t MaxConnectionsFor(std::int16_t connection) {
  if (connection < 5) return 8;
  if (connection < 8) return 10;
  return 12;
}

std::optional<std::int64_t> ParseWholeNumber(std::string_view text) {
  text = TrimBlanks(text);
  bool negative = false;
  if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  const auto point = text.find('.');
  const std::string_view whole = text.substr(0, point);
  const std::string_view fraction =
      point == std::string_view::npos ? std::string_view{} : text.substr(point + 1);
  if (whole.empty() && fraction.empty()) return std::nullopt;
  for (char c : whole) {
    if (c < '0' || c > '9') return std::nullopt;
  }
  std::int64_t value = 0;
  if (!whole.empty()) {
    const auto [end, error] = std::from_chars(whole.data(), whole.data() + whole.size(), value);
    if (error != std::errc{} || end != whole.data() + whole.size()) return std::nullopt;
  }
  for (char c : fraction) {
    if (c < '0' || c > '9') return std::nullopt;
  }
  // Halves go to the even neighbour; the first fraction digit and any non-zero rest decide.
  if (!fraction.empty() && fraction.front() >= '5') {
    const bool exactly_half =
        fraction.front() == '5' && fraction.find_first_not_of('0', 1) == std::string_view::npos;
    if (value == std::numeric_limits<std::int64_t>::max()) return std::nullopt;
    if (!exactly_half || value % 2 == 1) ++value;
  }
  return negative ? -value : value;
}

std::optional<std::int16_t> ParseInt16(std::string_view text) {
  const auto value = ParseWholeNumber(text);
  if (!value || *value < std::numeric_limits<std::int16_t>::min() ||
      *value > std::numeric_limits<std::int16_t>::max()) {
    return std::nullopt;
  }
  return static_cast<std::int16_t>(*value);
}

std::optional<std::int32_t> ParsePort(std::string_view text) {
  const auto value = ParseWholeNumber(text);
  if (!value || *value < 0 || *value > 65535) return std::nullopt;
  return static_cast<std::int32_t>(*value);
}

std::string FormatRate(double rate) {
  if (!std::isfinite(rate)) rate = 0;
  char buffer[64];
  const auto result =
      std::to_chars(buffer, buffer + sizeof buffer, rate, std::chars_format::general, 15);
  std::string text(buffer, result.ptr);
  // Whole and decimal numbers only, as the stored text has always been.
  if (text.find('e') != std::string::npos) {
    const auto fixed =
        std::to_chars(buffer, buffer + sizeof buffer, rate, std::chars_format::fixed);
    text.assign(buffer, fixed.ptr);
  }
  return text;
}

std::optional<double> ParseRate(std::string_view text) {
  std::string normal(TrimBlanks(text));
  if (normal.empty()) return std::nullopt;
  for (char& c : normal) {
    if (c == ',') c = '.';
  }
  double value = 0;
  const auto [end, error] = std::from_chars(normal.data(), normal.data() + normal.size(), value);
  if (error != std::errc{} || end != normal.data() + normal.size() || !std::isfinite(value)) {
    return std::nullopt;
  }
  return value;
}

std::vector<std::string> SplitList(std::string_view value) {
  std::vector<std::string> out;
  while (!value.empty()) {
    const auto bar = value.find('|');
    const std::string_view element = value.substr(0, bar);
    if (!element.empty()) out.emplace_back(element);
    if (bar == std::string_view::npos) break;
    value.remove_prefix(bar + 1);
  }
  return out;
}

std::string JoinList(const std::vector<std::string>& elements) {
  std::string out;
  for (const auto& element : elements)
    out.append(element).push_back('|');
  return out;
}

std::pair<std::string, std::string> SplitPair(std::string_view element, char separator) {
  const auto at = element.find(separator);
  if (at == std::string_view::npos) return {std::string(element), {}};
  const std::string_view rest = element.substr(at + 1);
  return {std::string(element.substr(0, at)), std::string(rest.substr(0, rest.find(separator)))};
}

std::vector<Gateway> ParseGatewayList(std::string_view value) {
  std::vector<Gateway> out;
  for (const auto& element : SplitList(value)) {
    auto [name, address] = SplitPair(element, '*');
    out.push_back({std::move(name), std::move(address)});
  }
  return out;
}

std::string FormatGatewayList(const std::vector<Gateway>& gateways) {
  std::string out;
  for (const auto& gateway : gateways) {
    out.append(gateway.name).append("*").append(gateway.address).append("|");
  }
  return out;
}

void LoadPreferences(IniStore& store, const std::filesystem::path& file, Preferences& prefs,
                     PreferenceEffects& effects) {
  effects.RegisterUrlProtocol();
  prefs.MyIP = effects.LocalAddress();

  if (auto nickname = Read(store, file, keys::kNickname); !nickname.empty()) {
    prefs.Nickname = std::move(nickname);
  }
  ReadNumber(store, file, keys::kConnection, prefs.Connection, ParseInt16);
  if (auto folder = Read(store, file, keys::kDLDir); !folder.empty()) {
    prefs.DLDir = std::move(folder);
  }
  ReadNumber(store, file, keys::kMaxULs, prefs.MaxULs, ParseInt16);
  ReadNumber(store, file, keys::kMaxULUsers, prefs.MaxULUsers, ParseInt16);
  ReadNumber(store, file, keys::kDownloadPort, prefs.DownloadPort, ParsePort);
  if (auto gateways = Read(store, file, keys::kGateways); !gateways.empty()) {
    prefs.GatewayList = std::move(gateways);
  }

  effects.StartDownloadListener();

  // Every piece before the last "|" takes the next slot, empty pieces included.
  const std::string stored_cache = Read(store, file, keys::kHostCache);
  std::string_view cache = stored_cache;
  for (std::size_t slot = 0; slot < kHostCacheSlots; ++slot) {
    const auto bar = cache.find('|');
    if (bar == std::string_view::npos) break;
    prefs.HostCache[slot] = std::string(cache.substr(0, bar));
    cache.remove_prefix(bar + 1);
  }

  prefs.MaxConnections = MaxConnectionsFor(prefs.Connection);
}

SettingsValues LoadSettingsValues(IniStore& store, const std::filesystem::path& file,
                                  const Preferences& prefs) {
  SettingsValues values;
  values.nickname = prefs.Nickname;
  values.download_folder = prefs.DLDir;
  values.connection = prefs.Connection;
  values.max_per_user = std::to_string(prefs.MaxULUsers);
  values.max_uls = std::to_string(prefs.MaxULs);
  values.download_port = std::to_string(prefs.DownloadPort);
  values.upload_limit = std::to_string(prefs.UploadLimit);
  values.download_limit = std::to_string(prefs.DownloadLimit);
  values.sources_at_once = std::to_string(prefs.SourcesAtOnce);
  values.start_with_desktop = Read(store, file, keys::kStartWithWindows) == "1";
  values.gateways = ParseGatewayList(prefs.GatewayList);
  values.shared_folders = SplitList(Read(store, file, keys::kSharedDirectories));
  return values;
}

void SavePreferences(IniStore& store, const std::filesystem::path& file,
                     const SettingsValues& values, Preferences& prefs, PreferenceEffects& effects) {
  Write(store, file, keys::kDLDir, values.download_folder);
  Write(store, file, keys::kStartWithWindows, values.start_with_desktop ? "1" : "0");
  Write(store, file, keys::kNickname, values.nickname);
  Write(store, file, keys::kConnection, std::to_string(values.connection));
  Write(store, file, keys::kMaxULUsers, values.max_per_user);
  Write(store, file, keys::kMaxULs, values.max_uls);
  Write(store, file, keys::kDownloadPort, values.download_port);

  effects.SetStartWithDesktop(values.start_with_desktop);

  std::vector<std::string> folders;
  for (const auto& folder : values.shared_folders) {
    if (!folder.empty()) folders.push_back(folder);
  }
  Write(store, file, keys::kSharedDirectories, JoinList(folders));

  prefs.GatewayList = FormatGatewayList(values.gateways);
  Write(store, file, keys::kGateways, prefs.GatewayList);

  prefs.Nickname = values.nickname;
  if (values.connection >= std::numeric_limits<std::int16_t>::min() &&
      values.connection <= std::numeric_limits<std::int16_t>::max()) {
    prefs.Connection = static_cast<std::int16_t>(values.connection);
  }
  prefs.DLDir = values.download_folder;
  if (const auto port = ParsePort(values.download_port)) prefs.DownloadPort = *port;
  if (const auto slots = ParseInt16(values.max_uls)) prefs.MaxULs = *slots;
  if (const auto per_user = ParseInt16(values.max_per_user)) prefs.MaxULUsers = *per_user;
  prefs.MaxConnections = MaxConnectionsFor(prefs.Connection);

  const auto limit = [](const std::string& text) {
    return TrimBlanks(text).empty() ? std::optional<std::int32_t>(0) : ParseRateLimit(text);
  };
  if (const auto up = limit(values.upload_limit)) prefs.UploadLimit = *up;
  if (const auto down = limit(values.download_limit)) prefs.DownloadLimit = *down;
  prefs.SourcesAtOnce = ParseSourcesAtOnce(values.sources_at_once);
  SaveRateLimits(store, file, prefs);
}

void SaveHostCache(IniStore& store, const std::filesystem::path& file, const Preferences& prefs) {
  std::string value;
  for (std::size_t slot = 0; slot < kHostCacheSavedSlots; ++slot) {
    if (!prefs.HostCache[slot].empty()) value.append(prefs.HostCache[slot]).push_back('|');
  }
  Write(store, file, keys::kHostCache, value);
}

void SaveUploadStatistics(IniStore& store, const std::filesystem::path& file,
                          const Preferences& prefs) {
  Write(store, file, keys::kUploadAverage, FormatRate(prefs.AverageUploadRate));
  Write(store, file, keys::kUploadBest, FormatRate(prefs.BestUploadRate));
}

void LoadUploadStatistics(IniStore& store, const std::filesystem::path& file, Preferences& prefs) {
  ReadNumber(store, file, keys::kUploadAverage, prefs.AverageUploadRate, ParseRate);
  ReadNumber(store, file, keys::kUploadBest, prefs.BestUploadRate, ParseRate);
}

std::optional<std::int32_t> ParseRateLimit(std::string_view text) {
  const auto value = ParseWholeNumber(text);
  if (!value || *value < 0 || *value > 1'000'000) return std::nullopt;
  return static_cast<std::int32_t>(*value);
}

std::int32_t ParseSourcesAtOnce(std::string_view text) {
  const auto value = ParseWholeNumber(text);
  if (!value || *value < kMinSourcesAtOnce || *value > kMaxSourcesAtOnce) return kMinSourcesAtOnce;
  return static_cast<std::int32_t>(*value);
}

void LoadRateLimits(IniStore& store, const std::filesystem::path& file, Preferences& prefs) {
  ReadNumber(store, file, keys::kUploadLimit, prefs.UploadLimit, ParseRateLimit);
  ReadNumber(store, file, keys::kDownloadLimit, prefs.DownloadLimit, ParseRateLimit);
  prefs.SourcesAtOnce = ParseSourcesAtOnce(Read(store, file, keys::kSourcesAtOnce));
}

void SaveRateLimits(IniStore& store, const std::filesystem::path& file, const Preferences& prefs) {
  Write(store, file, keys::kUploadLimit, std::to_string(prefs.UploadLimit));
  Write(store, file, keys::kDownloadLimit, std::to_string(prefs.DownloadLimit));
  Write(store, file, keys::kSourcesAtOnce,
        std::to_string(ParseSourcesAtOnce(std::to_string(prefs.SourcesAtOnce))));
}

}  // namespace zorvex
