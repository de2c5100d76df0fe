#include "apps/node_options.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "apps/node_status.h"
#include "node/node_harness.h"
#include "settings/ini_store.h"
#include "support/temp_dir.h"

namespace zorvex {
namespace {

using testing::TempDir;

std::optional<NodeCommandLine> Parse(std::vector<std::string> args, std::string* error = nullptr) {
  std::string message;
  auto line = ParseNodeCommandLine(args, message);
  if (error) *error = message;
  return line;
}

std::string ParseError(std::vector<std::string> args) {
  std::string error;
  EXPECT_EQ(Parse(std::move(args), &error), std::nullopt);
  return error;
}

TEST(NodeCommandLineTest, EveryOptionInBothForms) {
  // Space-separated for brevity; no argument here holds a space.
  const auto line = Parse(testing::Words(
      "--home /srv/zx/ --bind=127.0.0.2 --nickname Alice --connection 7 --share /music "
      "--share=/films/ --download-dir /dl --download-port 65536 --max-uploads=4 --max-per-user 2 "
      "--gateway Main=gw.example/g.php?a=b --gateway=Backup=10.0.0.9/gateway.php "
      "--serve-gateway 127.0.0.2:8080 --status"));
  ASSERT_TRUE(line);
  EXPECT_EQ(line->home, std::filesystem::path("/srv/zx"));
  EXPECT_EQ(line->bind, "127.0.0.2");
  EXPECT_TRUE(line->status);
  EXPECT_EQ(line->gateway_host, "127.0.0.2");
  EXPECT_EQ(line->gateway_port, 8080);
  EXPECT_TRUE(line->command.empty());
  const PreferenceOptions& prefs = line->preferences;
  EXPECT_EQ(prefs.nickname, "Alice");
  EXPECT_EQ(prefs.connection, 7);
  EXPECT_EQ(prefs.shares, (std::vector<std::string>{"/music/", "/films/"}));
  EXPECT_EQ(prefs.download_dir, "/dl/");
  EXPECT_EQ(prefs.download_port, "65536");
  EXPECT_EQ(prefs.max_uploads, "4");
  EXPECT_EQ(prefs.max_per_user, "2");
  EXPECT_EQ(prefs.gateways, (std::vector<Gateway>{{"Main", "gw.example/g.php?a=b"},
                                                  {"Backup", "10.0.0.9/gateway.php"}}));
  EXPECT_TRUE(prefs.Any());
}

TEST(NodeCommandLineTest, CommandsFoldersAndDefaults) {
  auto line = Parse({"zx://connect|1.2.3.4"});
  ASSERT_TRUE(line);
  EXPECT_EQ(line->command, "zx://connect|1.2.3.4");
  EXPECT_FALSE(line->preferences.Any());
  EXPECT_FALSE(line->home);
  EXPECT_EQ(line->bind, "");

  line = Parse({"--bind", "0.0.0.0", "--", "--not-an-option", "zx://search|a"});
  ASSERT_TRUE(line);
  EXPECT_EQ(line->bind, "");
  EXPECT_EQ(line->command, "--not-an-option zx://search|a");

  line = Parse({"--share", "rel/dir", "--download-port", ""});
  ASSERT_TRUE(line);
  EXPECT_EQ(line->preferences.shares,
            std::vector<std::string>{(std::filesystem::current_path() / "rel/dir/").string()});
  EXPECT_EQ(line->preferences.download_port, "");

  line = Parse({"--away", "--nickname", "Alice", "zx://x"});  // no on or off: start away
  ASSERT_TRUE(line);
  EXPECT_TRUE(line->start_away);
  EXPECT_FALSE(line->request);
  EXPECT_EQ(line->command, "zx://x");

  line = Parse({"-h"});
  ASSERT_TRUE(line);
  EXPECT_TRUE(line->help);
  EXPECT_NE(NodeUsage().find("--gateway NAME=ADDRESS"), std::string::npos);
}

TEST(NodeCommandLineTest, UsageErrorsSayWhatIsWrong) {
  const std::string bind = "--bind needs a dotted IPv4 address, such as 127.0.0.2";
  const std::string serve = "--serve-gateway takes ADDR:PORT, such as 127.0.0.2:8080";
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"--colour"}, "unknown option --colour"},
      {{"-x"}, "unknown option -x"},
      {{"--nickname"}, "--nickname needs a value"},
      {{"--connection", "10"}, "--connection takes a number from 0 to 9"},
      {{"--connection", "x"}, "--connection takes a number from 0 to 9"},
      {{"--bind", "127.0.0.256"}, bind},
      {{"--bind", "localhost"}, bind},
      {{"--download-port", "12a"}, "--download-port takes a whole number"},
      {{"--max-uploads", "-1"}, "--max-uploads takes a whole number"},
      {{"--gateway", "no-address"}, "--gateway takes NAME=ADDRESS"},
      {{"--gateway", "=addr"}, "--gateway takes NAME=ADDRESS"},
      {{"--gateway", "a*b=addr"}, "--gateway may not contain \"*\" or \"|\""},
      {{"--serve-gateway", "127.0.0.1"}, serve},
      {{"--serve-gateway", "127.0.0.1:0"}, serve},
      {{"--serve-gateway", "127.0.0.1:65536"}, serve},
      {{"--share", ""}, "--share needs a folder"},
      {{"--upload-limit", "-1"}, "--upload-limit takes KB/s from 0 (unlimited) to 1000000"},
      {{"--upload-limit", "1000001"}, "--upload-limit takes KB/s from 0 (unlimited) to 1000000"},
      {{"--download-limit", "2.5"}, "--download-limit takes KB/s from 0 (unlimited) to 1000000"},
      {{"--download-limit", ""}, "--download-limit takes KB/s from 0 (unlimited) to 1000000"},
      {{"--away=maybe"}, "--away takes on or off, or nothing to start in away mode"},
      {{"--im", "127.0.3.2"}, "--im takes ADDRESS TEXT"},
      {{"--im", "host.example", "hi"}, "--im needs a dotted IPv4 address, such as 127.0.0.2"},
      {{"--buddy", "bob"}, "--buddy takes NICK=ADDRESS, such as bob=127.0.0.2"},
      {{"--buddy", "=127.0.3.2"}, "--buddy takes NICK=ADDRESS, such as bob=127.0.0.2"},
      {{"--buddy", "bob=127.0.3"}, "--buddy takes NICK=ADDRESS, such as bob=127.0.0.2"},
      {{"--buddy", "b~ob=127.0.3.2"}, "--buddy: a nickname may not contain \"|\" or \"~\""},
      {{"--unbuddy"}, "--unbuddy takes ADDRESS"},
      {{"--away", "on", "--unbuddy", "127.0.3.2"},
       "give one of --away on|off, --im, --buddy, --unbuddy at a time"},
      {{"--sources-at-once", "0"}, "--sources-at-once takes a number from 1 to 8"},
      {{"--sources-at-once", "9"}, "--sources-at-once takes a number from 1 to 8"},
      {{"--sources-at-once", "04"}, "--sources-at-once takes a number from 1 to 8"},
      {{"--sources-at-once", ""}, "--sources-at-once takes a number from 1 to 8"},
  };
  for (const auto& [args, error] : cases)
    EXPECT_EQ(ParseError(args), error) << args[0];
}

// Failed checks give the exact message and save nothing; then the first run stores the wizard's
// defaults, options merge over what is stored, and the limits live in a section of their own where
// giving one keeps the other as stored.
TEST(ApplyPreferencesTest, FailedChecksSaveNothingThenDefaultsOptionsAndLimitsAreStored) {
  TempDir home;
  const auto stored = [&home](PreferenceKey key) {
    return IniStore().ReadINI(key.section, key.key, home.path() / "prefs.dll");
  };
  const auto apply = [&home](const PreferenceOptions& options) {
    return ApplyPreferenceOptions(home.path(), options);
  };
  using Options = PreferenceOptions;
  const auto with = [](std::optional<std::string> Options::*field, std::string value) {
    Options options;
    options.*field = std::move(value);
    return options;
  };
  Options no_per_user = with(&Options::max_uploads, "10");
  no_per_user.max_per_user = "";
  const std::pair<Options, std::string> cases[] = {
      {with(&Options::nickname, "Bob"), "Please select a nickname with 4 or more letters."},
      {with(&Options::max_uploads, "11"),
       "You must allow at least 1 upload and no more then 10.  Default is 3."},
      {no_per_user, "Please select a max amount of uploads per user.  Default is 1."},
      {with(&Options::download_port, "65537"),
       "Your download port must be between port 1 and 65536.  Default is 0."},
      {with(&Options::download_dir, (home.path() / "missing").string() + "/"),
       "The download directory you specified does not exist!"},
  };
  for (const auto& [options, message] : cases)
    EXPECT_EQ(apply(options), message);
  EXPECT_FALSE(std::filesystem::exists(home.path() / "prefs.dll"));

  EXPECT_EQ(apply({}), std::nullopt);
  const std::string downloads = (home.path() / "Downloads").string() + "/";
  EXPECT_EQ(DefaultDownloadFolder(home.path()), downloads);
  EXPECT_TRUE(std::filesystem::is_directory(downloads));
  EXPECT_EQ(stored(keys::kGateways), "Zorvex's Main Gateway*gateway.zorvex.net/gateway.php|");
  EXPECT_EQ(stored(keys::kDLDir), downloads);
  EXPECT_EQ(stored(keys::kMaxULs), "3");
  EXPECT_EQ(stored(keys::kMaxULUsers), "1");
  EXPECT_EQ(stored(keys::kDownloadPort), "5503");
  EXPECT_EQ(stored(keys::kConnection), "0");
  EXPECT_EQ(stored(keys::kNickname), "");
  EXPECT_EQ(apply(with(&Options::download_port, "65536")), std::nullopt);
  EXPECT_EQ(stored(keys::kDownloadPort), "65536");

  // Options then merge over what is stored.
  TempDir music;
  PreferenceOptions first;
  first.nickname = "Alice";
  first.connection = 6;
  first.download_port = "6000";
  first.shares = {music.path().string() + "/"};
  ASSERT_EQ(apply(first), std::nullopt);

  PreferenceOptions second;
  second.max_uploads = "5";
  second.gateways = {{"Local", "127.0.0.2:8080/gateway.php"}};
  ASSERT_EQ(apply(second), std::nullopt);
  EXPECT_EQ(stored(keys::kNickname), "Alice");
  EXPECT_EQ(stored(keys::kConnection), "6");
  EXPECT_EQ(stored(keys::kDownloadPort), "6000");
  EXPECT_EQ(stored(keys::kMaxULs), "5");
  EXPECT_EQ(stored(keys::kMaxULUsers), "1");
  EXPECT_EQ(stored(keys::kSharedDirectories), music.path().string() + "/|");
  EXPECT_EQ(stored(keys::kGateways), "Local*127.0.0.2:8080/gateway.php|");

  std::string error;
  auto line = ParseNodeCommandLine({"--upload-limit", "2000", "--download-limit=0"}, error);
  ASSERT_TRUE(line) << error;
  EXPECT_EQ(line->preferences.upload_limit, 2000);
  EXPECT_EQ(line->preferences.download_limit, 0);
  ASSERT_EQ(apply(line->preferences), std::nullopt);
  EXPECT_EQ(stored(keys::kUploadLimit), "2000");
  EXPECT_EQ(stored(keys::kDownloadLimit), "0");
  PreferenceOptions limits;
  limits.download_limit = 150;
  ASSERT_EQ(apply(limits), std::nullopt);
  EXPECT_EQ(stored(keys::kUploadLimit), "2000");
  EXPECT_EQ(stored(keys::kDownloadLimit), "150");
  EXPECT_EQ(keys::kUploadLimit.section, "Limits");
  IniStore store;
  Preferences prefs;
  LoadRateLimits(store, home.path() / "prefs.dll", prefs);
  EXPECT_EQ(prefs.UploadLimit, 2000);
  EXPECT_EQ(prefs.DownloadLimit, 150);
  EXPECT_EQ(prefs.SourcesAtOnce, 1);
  // The sources at once go with them.
  line = ParseNodeCommandLine({"--sources-at-once=4"}, error);
  ASSERT_TRUE(line) << error;
  ASSERT_EQ(apply(line->preferences), std::nullopt);
  EXPECT_EQ(stored(keys::kSourcesAtOnce), "4");
  EXPECT_EQ(stored(keys::kDownloadLimit), "150");
}

TEST(MissingEssentialsMessageTest, NamesTheOptionsToGive) {
  const std::string text =
      MissingEssentialsMessage({MissingEssential::kNickname, MissingEssential::kDownloadFolder,
                                MissingEssential::kGatewayList, MissingEssential::kAddress});
  for (const char* option :
       {"--nickname NAME", "--download-dir DIR", "--gateway NAME=ADDRESS", "--bind ADDR"}) {
    EXPECT_NE(text.find(option), std::string::npos) << option;
  }
}

TEST(StatusJsonTest, SnapshotFieldsAsJson) {
  NodeSnapshot snapshot;
  snapshot.nickname = "Ren\xe9";  // Latin-1
  snapshot.my_ip = "127.0.0.2";
  snapshot.status_line = "Connected to 127.0.0.3";
  snapshot.queue_display = "0 - 1";
  snapshot.neighbours = {{"127.0.0.3", true}, {"127.0.0.4", false}};
  snapshot.max_connections = 10;
  snapshot.connected = true;
  snapshot.packets_in = 5;
  snapshot.packets_out = 7;
  snapshot.packets_bad = 1;
  snapshot.host_cache = {"10.0.0.1", "10.0.0.2"};
  TransferRow row;
  row.file_name = "song.mp3";
  row.status = "Finding More Sources...";
  row.restored = true;
  snapshot.downloads.push_back({row, {}});

  const QJsonObject json =
      QJsonDocument::fromJson(QByteArray::fromStdString(StatusJson(snapshot))).object();
  EXPECT_EQ(json["nickname"].toString(), QString::fromUtf8("Ren\xc3\xa9"));
  EXPECT_EQ(json["my_ip"].toString(), "127.0.0.2");
  EXPECT_EQ(json["status_line"].toString(), "Connected to 127.0.0.3");
  EXPECT_EQ(json["queue"].toString(), "0 - 1");
  EXPECT_EQ(json["max_connections"].toInt(), 10);
  EXPECT_TRUE(json["connected"].toBool());
  EXPECT_EQ(json["packets"].toObject(), (QJsonObject{{"in", 5}, {"out", 7}, {"bad", 1}}));
  EXPECT_EQ(json["neighbours"].toArray(),
            (QJsonArray{QJsonObject{{"address", "127.0.0.3"}, {"confirmed", true}},
                        QJsonObject{{"address", "127.0.0.4"}, {"confirmed", false}}}));
  EXPECT_EQ(json["host_cache"].toArray(), (QJsonArray{"10.0.0.1", "10.0.0.2"}));
  const QJsonObject download = json["downloads"].toArray()[0].toObject();
  EXPECT_EQ(download["file_name"].toString(), "song.mp3");
  EXPECT_EQ(download["status"].toString(), "Finding More Sources...");
  EXPECT_TRUE(download["restored"].toBool());  // a restored row says so
}

}  // namespace
}  // namespace zorvex
