#pragma once
// The preference fields, the keys they live under in prefs.dll, and the routines that move them
// between the file, the fields and the settings dialog's values.

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zorvex {

class IniStore;

struct PreferenceKey {
  std::string_view section;
  std::string_view key;
};

namespace keys {
inline constexpr PreferenceKey kDLDir{"Preferences", "DLDir"};
inline constexpr PreferenceKey kStartWithWindows{"Preferences", "StartWithWindows"};
inline constexpr PreferenceKey kNickname{"Preferences", "Nickname"};
inline constexpr PreferenceKey kConnection{"Preferences", "Connection"};
inline constexpr PreferenceKey kMaxULUsers{"Preferences", "MaxULUsers"};
inline constexpr PreferenceKey kMaxULs{"Preferences", "MaxULs"};
inline constexpr PreferenceKey kDownloadPort{"Preferences", "DownloadPort"};
inline constexpr PreferenceKey kHashSpeed{"Preferences", "HashSpeed"};
inline constexpr PreferenceKey kAutomaticDownloadClear{"Preferences", "AutomaticDownloadClear"};
inline constexpr PreferenceKey kAutomaticUploadClear{"Preferences", "AutomaticUploadClear"};
inline constexpr PreferenceKey kFavorites{"Preferences", "Favorites"};
inline constexpr PreferenceKey kSharedDirectories{"Shared", "Directories"};
inline constexpr PreferenceKey kGateways{"Hosts", "Addresses"};
inline constexpr PreferenceKey kHostCache{"Cache", "Cache"};
inline constexpr PreferenceKey kUploadAverage{"Uploads", "Average"};
inline constexpr PreferenceKey kUploadBest{"Uploads", "Best"};
inline constexpr PreferenceKey kHotList{"HotList", "List"};
// Keys of this program only, in a section of their own that other copies never read.
inline constexpr PreferenceKey kUploadLimit{"Limits", "Upload"};
inline constexpr PreferenceKey kDownloadLimit{"Limits", "Download"};
inline constexpr PreferenceKey kSourcesAtOnce{"Limits", "SourcesAtOnce"};
}  // namespace keys

inline constexpr std::string_view kPreferencesFileName = "prefs.dll";
inline constexpr std::string_view kFileDatabaseName = "FileDatabase.dll";

// Slots 0 to 45 exist; 0 to 44 are saved.
inline constexpr std::size_t kHostCacheSlots = 46;
inline constexpr std::size_t kHostCacheSavedSlots = 45;

inline constexpr std::int32_t kMinSourcesAtOnce = 1;
inline constexpr std::int32_t kMaxSourcesAtOnce = 8;

// The in-memory copy of the main settings.
struct Preferences {
  std::string Nickname;
  std::string MyIP;
  std::int16_t Connection = 0;
  std::string DLDir;
  std::int16_t MaxULUsers = 0;
  std::int16_t MaxULs = 0;
  // 0 to 65535: every TCP port is usable, not only those a signed 16-bit number holds.
  std::int32_t DownloadPort = 0;
  std::int16_t MaxConnections = 8;
  std::string GatewayList;
  std::array<std::string, kHostCacheSlots> HostCache;
  double BestUploadRate = 0;
  double AverageUploadRate = 0;
  // Kilobytes (1024 bytes) a second shared by all uploads or all downloads; 0 is unlimited.
  std::int32_t UploadLimit = 0;
  std::int32_t DownloadLimit = 0;
  // Sources one download fetches different ranges from at once; 1 fetches from one at a time.
  std::int32_t SourcesAtOnce = kMinSourcesAtOnce;
};

// What the preference routines ask of the rest of the program.
class PreferenceEffects {
 public:
  virtual ~PreferenceEffects() = default;
  virtual void RegisterUrlProtocol() = 0;
  // The local address of the datagram socket.
  virtual std::string LocalAddress() = 0;
  virtual void StartDownloadListener() = 0;
  virtual void SetStartWithDesktop(bool on) = 0;
};

struct Gateway {
  std::string name;
  std::string address;
  bool operator==(const Gateway&) const = default;
};

// The settings dialog's controls as plain values: numbers stay the texts as typed.
struct SettingsValues {
  std::string nickname;
  int connection = 0;
  std::string max_uls;
  std::string max_per_user;
  std::vector<std::string> shared_folders;
  std::string download_folder;
  std::string download_port;
  std::string upload_limit = "0";
  std::string download_limit = "0";
  std::string sources_at_once = "1";
  bool start_with_desktop = false;
  std::vector<Gateway> gateways;
  bool operator==(const SettingsValues&) const = default;
};

std::int16_t MaxConnectionsFor(std::int16_t connection);

// Start-up load into the fields. A value that is absent, undecodable or not a number of the
// field's type leaves its field as it was.
void LoadPreferences(IniStore& store, const std::filesystem::path& file, Preferences& prefs,
                     PreferenceEffects& effects);

// The dialog fill: fields and stored values as the dialog shows them.
SettingsValues LoadSettingsValues(IniStore& store, const std::filesystem::path& file,
                                  const Preferences& prefs);

// Writes the dialog's values to the file and to the fields; failures of single steps are ignored.
// An empty limit is no limit.
void SavePreferences(IniStore& store, const std::filesystem::path& file,
                     const SettingsValues& values, Preferences& prefs, PreferenceEffects& effects);

// Exit-time saves and the matching start-up read.
void SaveHostCache(IniStore& store, const std::filesystem::path& file, const Preferences& prefs);
void SaveUploadStatistics(IniStore& store, const std::filesystem::path& file,
                          const Preferences& prefs);
void LoadUploadStatistics(IniStore& store, const std::filesystem::path& file, Preferences& prefs);

// The rate limits and the sources at once: read at start-up (an absent or bad value leaves its
// field), written when set.
void LoadRateLimits(IniStore& store, const std::filesystem::path& file, Preferences& prefs);
void SaveRateLimits(IniStore& store, const std::filesystem::path& file, const Preferences& prefs);
// A limit as typed or stored: a whole number of kilobytes a second from 0 (unlimited) to
// 1,000,000.
std::optional<std::int32_t> ParseRateLimit(std::string_view text);
// Sources at once as typed or stored: a whole number from 1 to 8; anything else is 1.
std::int32_t ParseSourcesAtOnce(std::string_view text);

// Stored lists: every element followed by "|"; reading skips empty elements.
std::vector<std::string> SplitList(std::string_view value);
std::string JoinList(const std::vector<std::string>& elements);
// The first two parts of a two-part element; the second is empty without a separator.
std::pair<std::string, std::string> SplitPair(std::string_view element, char separator);
std::vector<Gateway> ParseGatewayList(std::string_view value);
std::string FormatGatewayList(const std::vector<Gateway>& gateways);

// Whole-number conversions of stored and typed texts: blanks around the number are allowed, a
// fraction rounds half to even; anything else, or a value out of range, gives nothing.
std::optional<std::int64_t> ParseWholeNumber(std::string_view text);
std::optional<std::int16_t> ParseInt16(std::string_view text);
std::optional<std::int32_t> ParsePort(std::string_view text);
// Rates as decimal text with up to 15 significant digits; a decimal comma is also read.
std::string FormatRate(double rate);
std::optional<double> ParseRate(std::string_view text);

}  // namespace zorvex
