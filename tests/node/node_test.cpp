#include "node/node.h"

#include <gtest/gtest.h>

#include <random>

#include "network/peer_table.h"
#include "node/commands.h"
#include "node/node_harness.h"
#include "settings/ini_store.h"

namespace zorvex {
namespace {

using namespace testing;
using NodeTest = NodeFixture;

// An error shows its text and beeps; presence probes are answered for anyone; only a neighbour
// may tell us our address.
TEST_F(NodeTest, ErrorsProbesAndOurAddress) {
  EXPECT_TRUE(h.Receive("MiscError:Busy", "10.0.0.2").empty());
  EXPECT_EQ(h.node.Snapshot().status_line, "Error Received: Busy");
  EXPECT_EQ(h.runtime.beeps, 1);
  EXPECT_EQ(Messages(h.Receive("Ping-", "10.0.0.9")), Sent{"Pong- -> 10.0.0.9"});
  EXPECT_EQ(Messages(h.Receive("Ping+x", "10.0.0.9")), Sent{"Pong- -> 10.0.0.9"});

  h.Receive("ConnectIP:192.0.2.1", "10.0.0.9");
  EXPECT_EQ(h.node.preferences().MyIP, "10.0.0.1");
  h.AddNeighbours({"10.0.0.2"});
  for (const char* bad : {"not-an-address", "010.0.0.7", "0.0.0.0", "224.1.1.1"}) {
    h.Receive(std::string("ConnectIP:") + bad, "10.0.0.2");
    EXPECT_EQ(h.node.preferences().MyIP, "10.0.0.1") << bad;
  }
  h.Receive("ConnectIP:192.0.2.1", "10.0.0.2");
  EXPECT_EQ(h.node.preferences().MyIP, "192.0.2.1");
  // Traffic to and from the new address is refused from now on.
  h.node.messages().QueueMessage("Ping+", "192.0.2.1");
  EXPECT_TRUE(h.Flush().empty());
}

// Parsed, then run: a connect offers us, bad commands say why, unknown ones do nothing.
TEST_F(NodeTest, LinkCommands) {
  const std::string hash = "0123456789ABCDEF0123456789ABCDEF";
  EXPECT_EQ(ParseCommand("zx://connect|1.2.3.4/"), Command(ConnectCommand{"1.2.3.4"}));
  EXPECT_EQ(ParseCommand("connect|1.2.3.4"), Command(ConnectCommand{"1.2.3.4"}));
  EXPECT_EQ(ParseCommand("zx://search|free%20music/d"), Command(SearchCommand{"free music"}));
  EXPECT_EQ(ParseCommand("ZX://Get|My%20Song.MP3|1234|" + hash + "|"),
            Command(GetCommand{"my song.mp3", 1234, "0123456789abcdef0123456789abcdef"}));
  EXPECT_EQ(ParseCommand("zx://get|a.mp3|1234|" + hash.substr(1)), Command(InvalidHashSize{}));
  EXPECT_EQ(ParseCommand("zx://get|a.mp3"), Command(InvalidCommand{}));
  EXPECT_EQ(ParseCommand("zx://get|a.mp3|lots|" + hash), Command(InvalidCommand{}));
  EXPECT_EQ(ParseCommand("zx://get|a.mp3|99999999999|" + hash), Command(InvalidCommand{}));
  EXPECT_EQ(ParseCommand("zx://hello|x"), Command(NoCommand{}));
  EXPECT_EQ(ParseCommand("zx://connect"), Command(NoCommand{}));
  EXPECT_EQ(ParseCommand(""), Command(NoCommand{}));
  // Only one trailing "/" is removed, and "/d" only when there is no "/".
  EXPECT_EQ(ParseCommand("search|a//"), Command(SearchCommand{"a/"}));
  EXPECT_EQ(ParseCommand("search|a/d/"), Command(SearchCommand{"a/d"}));

  h.node.RunCommand("zx://connect|10.0.0.7/");
  EXPECT_EQ(Messages(h.Flush()), Sent{"ConnectNew:Alice|3|0|0 Bytes|1.2.1|0 -> 10.0.0.7"});
  h.node.RunCommand("zx://get|a.mp3|1234|0123456789abcdef0123456789abcde");
  h.node.RunCommand("zx://get|a.mp3");
  h.node.RunCommand("zx://hello|x");
  ASSERT_EQ(h.runtime.boxes.size(), 2u);
  EXPECT_EQ(h.runtime.boxes[0].text, "Invalid Hash Size!");
  EXPECT_EQ(h.runtime.boxes[0].icon, PromptIcon::kCritical);
  EXPECT_EQ(h.runtime.boxes[1].text, "Invalid Command!");
  EXPECT_EQ(h.runtime.boxes[1].icon, PromptIcon::kNone);
}

TEST_F(NodeTest, StartUpLoadsPreferencesAndNamesWhatIsMissing) {
  Node fresh(h.runtime, NodeOptions{.home = h.home.path()});
  EXPECT_EQ(fresh.Start(), StartResult::kNeedsSettings);
  EXPECT_EQ(
      fresh.MissingEssentials(),
      (std::vector<MissingEssential>{MissingEssential::kGatewayList, MissingEssential::kNickname,
                                     MissingEssential::kDownloadFolder}));
  EXPECT_EQ(fresh.preferences().MyIP, "10.0.0.1");

  IniStore& store = fresh.store();
  const auto file = fresh.PreferencesFile();
  store.WriteINI("Preferences", "Nickname", "Alice", file);
  store.WriteINI("Preferences", "DLDir", h.home.path().string() + "/", file);
  store.WriteINI("Preferences", "Connection", "9", file);
  store.WriteINI("Hosts", "Addresses", "Main*gw.example/gateway.php|", file);
  store.WriteINI("Cache", "Cache", "10.0.4.1|10.0.4.2|", file);
  Node ready(h.runtime, NodeOptions{.home = h.home.path()});
  EXPECT_EQ(ready.Start(), StartResult::kStarted);
  EXPECT_EQ(ready.preferences().MaxConnections, 12);
  EXPECT_EQ(ready.Snapshot().host_cache, (Sent{"10.0.4.1", "10.0.4.2"}));
  EXPECT_TRUE(ready.bootstrap().timer_active());

  h.runtime.bind_succeeds = false;
  Node unbound(h.runtime, NodeOptions{.home = h.home.path()});
  EXPECT_EQ(unbound.Start(), StartResult::kBindFailed);
}

TEST_F(NodeTest, ExitSavesTheCacheAndSaysGoodbyeToEveryNeighbour) {
  h.node.LoadPreferences();
  h.node.preferences().Nickname = "Alice";
  h.node.preferences().MyIP = "10.0.0.1";
  h.Receive("ConnectNew:Bob|6|1|0 Bytes|1.2.1|0", "10.0.0.2");
  h.Receive("ConnectNew:Carol|2|1|0 Bytes|1.2.1|0", "10.0.0.3");
  h.node.messages().QueueMessage("Ping-", "10.0.0.8");
  bool done = false;
  h.node.Exit([&] { done = true; });
  EXPECT_TRUE(done);
  EXPECT_EQ(Messages(h.runtime.TakeSent()),
            (Sent{"Ping- -> 10.0.0.8", "ConnectDisconnect -> 10.0.0.2",
                  "ConnectDisconnect -> 10.0.0.3"}));
  IniStore store;
  EXPECT_EQ(store.ReadINI("Cache", "Cache", h.node.PreferencesFile()), "10.0.0.2|");
  EXPECT_EQ(store.ReadINI("Uploads", "Best", h.node.PreferencesFile()), "0");
}

TEST_F(NodeTest, ExitWithoutLoadedPreferencesKeepsTheStoredOnes) {
  IniStore store;
  store.WriteINI("Cache", "Cache", "10.0.4.1|", h.node.PreferencesFile());
  h.node.preferences().HostCache[0] = "10.9.9.9";
  h.node.Exit({});
  EXPECT_EQ(store.ReadINI("Cache", "Cache", h.node.PreferencesFile()), "10.0.4.1|");
}

// Only host addresses, each once.
TEST_F(NodeTest, GatewayPageListsUsNeighboursAndCacheOnce) {
  h.AddNeighbours({"10.0.0.2", "10.0.0.3"});
  h.node.preferences().HostCache[0] = "10.0.0.3";
  h.node.preferences().HostCache[1] = "255.255.255.255";
  h.node.preferences().HostCache[2] = "10.0.5.5";
  EXPECT_EQ(h.node.GatewayPage(), "10.0.0.1<br>10.0.0.2<br>10.0.0.3<br>10.0.5.5<br>");
}

// Malformed messages of every family, then random bytes, are counted and change nothing.
TEST_F(NodeTest, MalformedAndRandomDatagramsAreCountedAndHarmless) {
  h.AddNeighbours({"10.0.0.2"});
  // "#" stands for a number of 60000 digits.
  auto messages = Words(
      "SearchDownload: SearchDownload:a|b SearchFor: SearchFor:q|#|1 SearchFor:q|1|# SearchList: "
      "SearchList:q|1|# SearchFound: SearchFound:q|1|n|#|a|b|c|d|e ConnectNew: ConnectNew:||||| "
      "ConnectNew:a|#|1|s|v|0 ConnectEst:a|1|1|s|v|#|extra|fields ConnectRqr: ConnectRqr:|# "
      "ConnectRqr:#|3 ConnectIP: ConnectIP:# SourceSearch: SourceData:||| SourceFound:# "
      "MiscError: MiscIM: MiscIM:|||# Pong+extra Pong-");
  ASSERT_EQ(messages.size(), 26u);
  for (auto& message : messages) {
    if (const auto at = message.find('#'); at != std::string::npos)
      message.replace(at, 1, std::string(60000, '9'));
  }
  const auto before = h.node.messages().counters();
  for (const auto& message : messages)
    h.runtime.Deliver(message, "10.0.0.7");
  h.Flush();
  const auto after = h.node.messages().counters();
  EXPECT_EQ(after.in, before.in + messages.size());
  EXPECT_EQ(after.bad, before.bad);  // every one belongs to a known family
  EXPECT_EQ(h.node.peers().size(), 1u);
  EXPECT_EQ(h.node.preferences().MyIP, "10.0.0.1");
  EXPECT_EQ(Messages(h.Receive("Ping-", "10.0.0.9")), Sent{"Pong- -> 10.0.0.9"});

  const auto in = h.node.messages().counters().in;
  std::mt19937 random(3);
  for (int i = 0; i < 3000; ++i) {
    std::string junk(1 + random() % 200, '\0');
    for (auto& c : junk)
      c = static_cast<char>(random());
    // Half of them pass as the start of a known family.
    static const char* kPrefixes[] = {"Search", "Connect", "Source", "Ping", "Pong", "Misc"};
    if (i % 2) junk = kPrefixes[random() % 6] + junk;
    h.runtime.handler->OnDatagram(junk, "10.0.0." + std::to_string(2 + random() % 5));
  }
  h.Flush();
  EXPECT_EQ(h.node.messages().counters().in, in + 3000);
  EXPECT_EQ(Messages(h.Receive("Ping-", "10.0.0.9")), Sent{"Pong- -> 10.0.0.9"});
}

}  // namespace
}  // namespace zorvex
