#include "settings/validation.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

namespace zorvex {
namespace {

constexpr const char* kShortNickname = "Please select a nickname with 4 or more letters.";
constexpr const char* kSymbols = "You may not use these symbols in your nickname: | ~";
constexpr const char* kSlots =
    "You must allow at least 1 upload and no more then 10.  Default is 3.";
constexpr const char* kPerUserEmpty =
    "Please select a max amount of uploads per user.  Default is 1.";
constexpr const char* kPerUser =
    "You must allow at least one slot per person and no more then 10.  Default is 1.";
constexpr const char* kShares = "You must share at least one folder with one file in it.";
constexpr const char* kFolder = "The download directory you specified does not exist!";
constexpr const char* kPort = "Your download port must be between port 1 and 65536.  Default is 0.";
constexpr const char* kUpLimit =
    "Your upload limit must be between 0 and 1000000 KB/s.  Default is 0 (none).";
constexpr const char* kDownLimit =
    "Your download limit must be between 0 and 1000000 KB/s.  Default is 0 (none).";
constexpr const char* kSources =
    "You must allow at least 1 source and no more than 8 at once.  Default is 1.";
constexpr const char* kGateways = "You must have at least one gateway to connect to.";

SettingsValues Valid() {
  SettingsValues values;
  values.nickname = "Alice";
  values.max_uls = "3";
  values.max_per_user = "1";
  values.shared_folders = {"/music/"};
  values.download_folder = "/downloads/";
  values.download_port = "5503";
  values.gateways = {{"Main", "gateway.example/gateway.php"}};
  return values;
}

const FolderExists kOnlyDownloads = [](const std::string& folder) {
  return folder == "/downloads/";
};

std::optional<std::string> Page(int page, const SettingsValues& values) {
  return ValidatePage(page, values, kOnlyDownloads);
}

TEST(ValidatePageTest, ValidValuesPassEveryPage) {
  for (int page = 0; page <= 5; ++page)
    EXPECT_EQ(Page(page, Valid()), std::nullopt) << page;
  EXPECT_EQ(Page(6, SettingsValues{}), std::nullopt);
  EXPECT_EQ(Page(-1, SettingsValues{}), std::nullopt);
  EXPECT_EQ(Page(5, SettingsValues{}), std::nullopt);
}

TEST(ValidatePageTest, NicknameNeedsFourCharactersWithoutSeparators) {
  const std::vector<std::tuple<std::string, std::optional<std::string>>> cases = {
      {"Bobb", std::nullopt}, {"Bob", kShortNickname}, {"", kShortNickname},
      {"Bo|b", kSymbols},     {"~Bobby", kSymbols},    {"ab|", kShortNickname}};
  for (const auto& [nickname, message] : cases) {
    SettingsValues values = Valid();
    values.nickname = nickname;
    EXPECT_EQ(Page(0, values), message) << nickname;
  }
}

TEST(ValidatePageTest, UploadLimitsInTheirOrder) {
  // max_uls, max_per_user, expected
  const std::vector<std::tuple<std::string, std::string, std::optional<std::string>>> cases = {
      {"1", "1", std::nullopt},
      {"10", "10", std::nullopt},
      {"11", "1", kSlots},
      {"0", "1", kSlots},
      {"10", "", kPerUserEmpty},
      {"11", "", kSlots},
      {"3", "0", kPerUser},
      {"3", "11", kPerUser},
      // Empty reads as 0; numbers too large to read are above every limit.
      {"", "1", kSlots},
      {"99999999999999999999999", "1", kSlots},
      {"3", "99999999999999999999999", kPerUser},
      {"3", " ", kPerUser},
      {"-99999999999999999999999", "1", kSlots},
      {"abc", "1", kSlots},
      {" 7 ", "2", std::nullopt},
  };
  for (const auto& [slots, per_user, message] : cases) {
    SettingsValues values = Valid();
    values.max_uls = slots;
    values.max_per_user = per_user;
    EXPECT_EQ(Page(1, values), message) << "'" << slots << "' '" << per_user << "'";
  }
}

TEST(ValidatePageTest, DownloadFolderThenPort) {
  const std::vector<std::tuple<std::string, std::string, std::optional<std::string>>> cases = {
      {"/downloads/", "65536", std::nullopt},
      {"/downloads/", "1", std::nullopt},
      {"/downloads/", "65537", kPort},
      {"/downloads/", "0", kPort},
      {"/downloads/", "", kPort},
      {"/downloads/", "18446744073709551616", kPort},
      {"/elsewhere/", "5503", kFolder},
      {"", "0", kFolder},
  };
  for (const auto& [folder, port, message] : cases) {
    SettingsValues values = Valid();
    values.download_folder = folder;
    values.download_port = port;
    EXPECT_EQ(Page(3, values), message) << folder << " " << port;
  }
}

TEST(ValidatePageTest, LimitsAndSourcesComeLastOnTheirPages) {
  // page, upload limit, download limit, sources at once, expected
  const std::vector<
      std::tuple<int, std::string, std::string, std::string, std::optional<std::string>>>
      cases = {
          {1, "1000000", "0", "1", std::nullopt},
          {1, "", "0", "1", std::nullopt},
          {1, "1000001", "0", "1", kUpLimit},
          {1, "-1", "0", "1", kUpLimit},
          {3, "0", "1000001", "9", kDownLimit},
          {3, "0", "", "8", std::nullopt},
          {3, "0", "0", "0", kSources},
          {3, "0", "0", "9", kSources},
          {3, "0", "0", "", kSources},
          {3, "9999999", "0", "1", std::nullopt},
      };
  for (const auto& [page, up, down, sources, message] : cases) {
    SettingsValues values = Valid();
    values.upload_limit = up;
    values.download_limit = down;
    values.sources_at_once = sources;
    EXPECT_EQ(Page(page, values), message) << page << " " << up << " " << down << " " << sources;
  }
}

TEST(ValidatePageTest, SharesAndGatewaysMustNotBeEmptyAndFoldersAreLookedForOnDisk) {
  SettingsValues values = Valid();
  values.shared_folders.clear();
  EXPECT_EQ(Page(2, values), kShares);
  values.gateways.clear();
  EXPECT_EQ(Page(4, values), kGateways);
  values.download_folder = "/";
  EXPECT_EQ(ValidatePage(3, values), std::nullopt);
  values.download_folder = "/no/such/folder/zorvex/";
  EXPECT_EQ(ValidatePage(3, values), kFolder);
}

TEST(ValidateSettingsTest, FirstFailingPageWins) {
  SettingsValues values = Valid();
  EXPECT_EQ(ValidateSettings(values, kOnlyDownloads), std::nullopt);
  values.gateways.clear();
  EXPECT_EQ(ValidateSettings(values, kOnlyDownloads), kGateways);
  values.download_port = "0";
  EXPECT_EQ(ValidateSettings(values, kOnlyDownloads), kPort);
  values.shared_folders.clear();
  EXPECT_EQ(ValidateSettings(values, kOnlyDownloads), kShares);
  values.max_per_user = "";
  EXPECT_EQ(ValidateSettings(values, kOnlyDownloads), kPerUserEmpty);
  values.nickname = "Bob";
  EXPECT_EQ(ValidateSettings(values, kOnlyDownloads), kShortNickname);
}

}  // namespace
}  // namespace zorvex
