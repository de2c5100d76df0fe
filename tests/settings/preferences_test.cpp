#include "settings/preferences.h"

#include <gtest/gtest.h>

#include <tuple>
#include <vector>

#include "core/hex.h"

#include "settings/ini_store.h"
#include "support/temp_dir.h"

namespace zorvex {
namespace {

using testing::TempDir;

class RecordingEffects : public PreferenceEffects {
 public:
  void RegisterUrlProtocol() override { calls.push_back("register"); }
  std::string LocalAddress() override {
    calls.push_back("address");
    return "192.168.1.20";
  }
  void StartDownloadListener() override { calls.push_back("listen"); }
  void SetStartWithDesktop(bool on) override {
    calls.push_back(on ? "autostart on" : "autostart off");
  }

  std::vector<std::string> calls;
};

class PreferencesTest : public ::testing::Test {
 protected:
  void Store(PreferenceKey key, std::string_view value) {
    store.WriteINI(key.section, key.key, value, file);
  }
  std::string Stored(PreferenceKey key) { return store.ReadINI(key.section, key.key, file); }
  std::vector<std::string> Stored(std::initializer_list<PreferenceKey> keys) {
    std::vector<std::string> values;
    for (const PreferenceKey& key : keys)
      values.push_back(Stored(key));
    return values;
  }

  TempDir dir;
  std::filesystem::path file = dir / "prefs.dll";
  IniStore store;
  RecordingEffects effects;
  Preferences prefs;
};

// The fields that loading and saving both set, compared at once.
using Fields = std::tuple<std::string, int, int, std::string, int, int, int, std::string>;
Fields FieldsOf(const Preferences& p) {
  return {p.Nickname, p.Connection, p.MaxConnections, p.DLDir,
          p.MaxULs,   p.MaxULUsers, p.DownloadPort,   p.GatewayList};
}

TEST(KeyTableTest, NamesAreStoredUnderTheirKnownHexForms) {
  const std::string prefs = "507265666572656E636573";
  const std::vector<std::tuple<PreferenceKey, std::string, std::string>> table = {
      {keys::kDLDir, prefs, "444C446972"},
      {keys::kStartWithWindows, prefs, "53746172745769746857696E646F7773"},
      {keys::kNickname, prefs, "4E69636B6E616D65"},
      {keys::kConnection, prefs, "436F6E6E656374696F6E"},
      {keys::kMaxULUsers, prefs, "4D6178554C5573657273"},
      {keys::kMaxULs, prefs, "4D6178554C73"},
      {keys::kDownloadPort, prefs, "446F776E6C6F6164506F7274"},
      {keys::kHashSpeed, prefs, "486173685370656564"},
      {keys::kAutomaticDownloadClear, prefs, "4175746F6D61746963446F776E6C6F6164436C656172"},
      {keys::kAutomaticUploadClear, prefs, "4175746F6D6174696355706C6F6164436C656172"},
      {keys::kFavorites, prefs, "4661766F7269746573"},
      {keys::kSharedDirectories, "536861726564", "4469726563746F72696573"},
      {keys::kGateways, "486F737473", "416464726573736573"},
      {keys::kHostCache, "4361636865", "4361636865"},
      {keys::kUploadAverage, "55706C6F616473", "41766572616765"},
      {keys::kUploadBest, "55706C6F616473", "42657374"},
      {keys::kHotList, "486F744C697374", "4C697374"},
  };
  for (const auto& [key, section_hex, key_hex] : table) {
    EXPECT_EQ(EnHex(key.section), section_hex) << key.key;
    EXPECT_EQ(EnHex(key.key), key_hex) << key.key;
  }
}

TEST(MaxConnectionsTest, FollowsTheConnectionSpeed) {
  const std::pair<int, int> cases[] = {{0, 8}, {4, 8}, {5, 10}, {7, 10}, {8, 12}, {9, 12}, {-3, 8}};
  for (const auto& [speed, connections] : cases)
    EXPECT_EQ(MaxConnectionsFor(speed), connections) << speed;
}

TEST(NumberTextTest, WholeNumbersAndRatesAsStoredOrTyped) {
  const std::vector<std::pair<std::string, std::optional<int>>> int16 = {
      {"3", 3},           {" 10 ", 10},     {"-7", -7},
      {"2.5", 2},         {"3.5", 4},       {"3.51", 4},
      {"3.49", 3},        {"32767", 32767}, {"32768", std::nullopt},
      {"-32768", -32768},
  };
  for (const auto& [text, value] : int16)
    EXPECT_EQ(ParseInt16(text), value) << text;
  for (const char* bad : {"", " ", "x", "12x", "--5", "+-5", "1e3", ".", "5..0", "0x10"})
    EXPECT_EQ(ParseInt16(bad), std::nullopt) << bad;
  const std::vector<std::pair<std::string, std::optional<int>>> ports = {
      {"5503", 5503},          {"40000", 40000},     {"65535", 65535},
      {"65536", std::nullopt}, {"-1", std::nullopt},
  };
  for (const auto& [text, value] : ports)
    EXPECT_EQ(ParsePort(text), value) << text;
  EXPECT_EQ(FormatRate(0), "0");
  EXPECT_EQ(FormatRate(1234.5), "1234.5");
  EXPECT_EQ(FormatRate(0.1 + 0.2), "0.3");
  EXPECT_EQ(FormatRate(52.123456789012345), "52.1234567890123");
  EXPECT_EQ(FormatRate(1e20), "100000000000000000000");
  EXPECT_EQ(ParseRate("1234.5"), 1234.5);
  EXPECT_EQ(ParseRate("12,25"), 12.25);
  for (const char* bad : {"", "fast", "inf"})
    EXPECT_EQ(ParseRate(bad), std::nullopt) << bad;
}

TEST(ListTextTest, SplitJoinAndPairs) {
  EXPECT_EQ(SplitList("a|b||c|"), (std::vector<std::string>{"a", "b", "c"}));
  EXPECT_EQ(SplitList("tail"), (std::vector<std::string>{"tail"}));
  EXPECT_TRUE(SplitList("").empty());
  EXPECT_EQ(JoinList({"a", "b"}), "a|b|");
  EXPECT_EQ(JoinList({}), "");
  EXPECT_EQ(SplitPair("Main*host/gateway.php*extra", '*'),
            (std::pair<std::string, std::string>{"Main", "host/gateway.php"}));
  EXPECT_EQ(SplitPair("alone", '~'), (std::pair<std::string, std::string>{"alone", ""}));
  EXPECT_EQ(ParseGatewayList("A*a.example/gateway.php|B*b|"),
            (std::vector<Gateway>{{"A", "a.example/gateway.php"}, {"B", "b"}}));
  EXPECT_EQ(FormatGatewayList({{"A", "a"}, {"B", "b"}}), "A*a|B*b|");
}

TEST_F(PreferencesTest, LoadFromAMissingFileKeepsTheFieldsAndRunsEveryStepInOrder) {
  prefs.Nickname = "before";
  prefs.Connection = 6;
  prefs.HostCache[3] = "10.0.0.3";
  LoadPreferences(store, file, prefs, effects);
  EXPECT_EQ(effects.calls, (std::vector<std::string>{"register", "address", "listen"}));
  EXPECT_EQ(prefs.MyIP, "192.168.1.20");
  EXPECT_EQ(FieldsOf(prefs), (Fields{"before", 6, 10, "", 0, 0, 0, ""}));
  EXPECT_EQ(prefs.HostCache[3], "10.0.0.3");
  EXPECT_FALSE(std::filesystem::exists(file));
}

TEST_F(PreferencesTest, LoadReadsEveryFieldAndBadNumbersLeaveTheirFieldsUnchanged) {
  Store(keys::kNickname, "Alice");
  Store(keys::kConnection, "9");
  Store(keys::kDLDir, "/home/alice/Downloads/");
  Store(keys::kMaxULs, "3");
  Store(keys::kMaxULUsers, "1");
  Store(keys::kDownloadPort, "40000");  // above the 16-bit range of the other numbers
  Store(keys::kGateways, "Main*gw.example/gateway.php|");
  LoadPreferences(store, file, prefs, effects);
  const Fields read{"Alice", 9, 12,    "/home/alice/Downloads/",
                    3,       1, 40000, "Main*gw.example/gateway.php|"};
  EXPECT_EQ(FieldsOf(prefs), read);
  Store(keys::kConnection, "fast");
  Store(keys::kMaxULs, "40000");
  Store(keys::kDownloadPort, "70000");
  Store(keys::kMaxULUsers, "x");
  LoadPreferences(store, file, prefs, effects);
  EXPECT_EQ(FieldsOf(prefs), read);
}

TEST_F(PreferencesTest, HostCacheFillsSlotsInOrderKeepsTheRestAndIgnoresAnUnendedPiece) {
  prefs.HostCache[2] = "kept";
  Store(keys::kHostCache, "10.0.0.1|10.0.0.2|");
  LoadPreferences(store, file, prefs, effects);
  EXPECT_EQ(std::vector<std::string>(prefs.HostCache.begin(), prefs.HostCache.begin() + 3),
            (std::vector<std::string>{"10.0.0.1", "10.0.0.2", "kept"}));
  // Slots beyond 45 and the piece after the last bar are ignored.
  std::string cache;
  for (int i = 0; i < 50; ++i)
    cache += "10.1.0." + std::to_string(i) + "|";
  Store(keys::kHostCache, cache + "unterminated");
  LoadPreferences(store, file, prefs, effects);
  EXPECT_EQ(prefs.HostCache[0], "10.1.0.0");
  EXPECT_EQ(prefs.HostCache[45], "10.1.0.45");
  for (const auto& slot : prefs.HostCache)
    EXPECT_NE(slot, "unterminated");
}

TEST_F(PreferencesTest, HostCacheSaveSkipsEmptySlotsAndSlot45) {
  Store(keys::kHostCache, "10.0.0.1|");
  SaveHostCache(store, file, prefs);  // an empty cache keeps the previous one
  EXPECT_EQ(Stored(keys::kHostCache), "10.0.0.1|");
  prefs.HostCache[0] = "10.0.0.2";
  prefs.HostCache[7] = "10.0.0.8";
  prefs.HostCache[44] = "10.0.0.45";
  prefs.HostCache[45] = "10.0.0.46";
  SaveHostCache(store, file, prefs);
  EXPECT_EQ(Stored(keys::kHostCache), "10.0.0.2|10.0.0.8|10.0.0.45|");
}

SettingsValues WizardValues() {
  SettingsValues values;
  values.nickname = "Alice";
  values.connection = 7;
  values.max_uls = "3";
  values.max_per_user = "1";
  values.shared_folders = {"/srv/music/", "", "/srv/video/"};
  values.download_folder = "/home/alice/Downloads/";
  values.download_port = "5503";
  values.start_with_desktop = true;
  values.gateways = {{"Main", "gw.example/gateway.php"}, {"Backup", "10.0.0.9/gateway.php"}};
  return values;
}

TEST_F(PreferencesTest, SaveWritesEveryKeyAndField) {
  SavePreferences(store, file, WizardValues(), prefs, effects);
  EXPECT_EQ(effects.calls, std::vector<std::string>{"autostart on"});
  const std::string gateways = "Main*gw.example/gateway.php|Backup*10.0.0.9/gateway.php|";
  EXPECT_EQ(Stored({keys::kDLDir, keys::kStartWithWindows, keys::kNickname, keys::kConnection,
                    keys::kMaxULUsers, keys::kMaxULs, keys::kDownloadPort, keys::kSharedDirectories,
                    keys::kGateways}),
            (std::vector<std::string>{"/home/alice/Downloads/", "1", "Alice", "7", "1", "3", "5503",
                                      "/srv/music/|/srv/video/|", gateways}));
  EXPECT_EQ(FieldsOf(prefs),
            (Fields{"Alice", 7, 10, "/home/alice/Downloads/", 3, 1, 5503, gateways}));
}

TEST_F(PreferencesTest, SaveThenLoadAndFillGiveTheSameValues) {
  SettingsValues saved = WizardValues();
  saved.upload_limit = "250";
  saved.download_limit = "1000000";
  saved.sources_at_once = "8";
  SavePreferences(store, file, saved, prefs, effects);
  Preferences loaded;
  LoadPreferences(store, file, loaded, effects);
  LoadRateLimits(store, file, loaded);
  saved.shared_folders = {"/srv/music/", "/srv/video/"};
  EXPECT_EQ(LoadSettingsValues(store, file, loaded), saved);
}

TEST_F(PreferencesTest, EmptyTextsKeepTheStoredValues) {
  SavePreferences(store, file, WizardValues(), prefs, effects);
  SettingsValues cleared = WizardValues();
  cleared.shared_folders.clear();
  cleared.max_uls.clear();
  cleared.start_with_desktop = false;
  cleared.upload_limit.clear();  // an empty limit is none
  prefs.UploadLimit = 300;
  SavePreferences(store, file, cleared, prefs, effects);
  EXPECT_EQ(Stored({keys::kUploadLimit, keys::kSharedDirectories, keys::kMaxULs,
                    keys::kStartWithWindows}),
            (std::vector<std::string>{"0", "/srv/music/|/srv/video/|", "3", "0"}));
  EXPECT_EQ(prefs.MaxULs, 3);
  EXPECT_EQ(effects.calls.back(), "autostart off");
}

TEST_F(PreferencesTest, UploadStatisticsRoundTrip) {
  prefs.AverageUploadRate = 48.75;
  prefs.BestUploadRate = 1024.5;
  SaveUploadStatistics(store, file, prefs);
  EXPECT_EQ(Stored({keys::kUploadAverage, keys::kUploadBest}),
            (std::vector<std::string>{"48.75", "1024.5"}));
  Preferences loaded;
  LoadUploadStatistics(store, file, loaded);
  EXPECT_EQ(std::tie(loaded.AverageUploadRate, loaded.BestUploadRate),
            std::make_tuple(48.75, 1024.5));
}

// A stored or typed count of sources at once is read as hostile text: anything but 1 to 8 is 1.
TEST_F(PreferencesTest, SourcesAtOnceIsOneToEightAndAnythingElseOne) {
  std::vector<std::pair<const char*, std::int32_t>> cases = {{"4", 4}, {" 8 ", 8}, {"2.5", 2}};
  for (const char* bad : {"0", "9", "-3", "0x4", "4x", "1e1", "nan", "99999999999999999999"})
    cases.emplace_back(bad, 1);
  EXPECT_EQ(ParseSourcesAtOnce(""), 1);
  for (const auto& [text, count] : cases) {
    EXPECT_EQ(ParseSourcesAtOnce(text), count) << text;
    Store(keys::kSourcesAtOnce, text);
    Preferences loaded;
    loaded.SourcesAtOnce = 5;
    LoadRateLimits(store, file, loaded);
    EXPECT_EQ(loaded.SourcesAtOnce, count) << text;
  }
  prefs.SourcesAtOnce = 300;  // set in code past the bound
  SaveRateLimits(store, file, prefs);
  EXPECT_EQ(Stored(keys::kSourcesAtOnce), "1");
  prefs.SourcesAtOnce = 6;
  SaveRateLimits(store, file, prefs);
  EXPECT_EQ(Stored(keys::kSourcesAtOnce), "6");
  EXPECT_EQ(keys::kSourcesAtOnce.section, "Limits");
}

}  // namespace
}  // namespace zorvex
