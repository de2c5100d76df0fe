// What strangers can send: numbers at every integer boundary, addresses that are not one host,
// and lists meant to make a node work without end.

#include <gtest/gtest.h>

#include <random>

#include "core/address.h"
#include "node/node_harness.h"
#include "search/search.h"
#include "support/busy_node.h"

namespace zorvex {
namespace {

using namespace testing;

TEST(HostileAddressTest, OnlyPlainAddressesOfOneHostPass) {
  struct Case {
    std::vector<std::string> texts;
    bool dotted;
    bool host;
  };
  for (const Case& c : {
           Case{Words("10.0.0.1 127.0.0.61 223.255.255.254 240.0.0.1"), true, true},
           Case{Words("0.0.0.0 0.1.2.3 224.0.0.1 239.255.255.250 255.255.255.255"), true, false},
           Case{Words("08.0.0.1 010.0.0.1 10.0.0.01 00.1.1.1 256.0.0.1 1.2.3 1.2.3.4. 1.2.3.4.5 "
                      "1..2.3 1234.1.1.1 -1.2.3.4"),
                false, false},
           Case{{"", "1.2.3.4 "}, false, false},
       }) {
    for (const std::string& text : c.texts) {
      EXPECT_EQ(IsDottedIPv4(text), c.dotted) << text;
      EXPECT_EQ(IsHostAddress(text), c.host) << text;
    }
  }
}

// One neighbour, room for more: a walk request offers this node to the named host, or to the
// sender when it names none, and passes on with one hop fewer, capped.
TEST(HostilePeersTest, WalkRequestsReadTheirHopCountSafely) {
  const auto walk = [](const std::string& payload) {
    NodeHarness h;
    h.AddNeighbours({"10.0.0.2"});
    h.Flush();
    return Messages(h.Receive("ConnectRqr:" + payload, "10.0.0.9"));
  };
  // Bad hop counts, malformed requests, and addresses that are not one host's, are neither
  // offered nor passed on (the double space is the empty payload).
  for (const auto& payload :
       Words("127.0.0.61|-2147483648 |-2147483648 10.0.0.5|-1 10.0.0.5|0 10.0.0.5|+3 "
             "10.0.0.5|99999999999999999999 08.0.0.1|3 010.0.0.1|3 0.0.0.0|3 255.255.255.255|3 "
             "224.0.0.1|3  | 10.0.7.7 |x evil.example|3 1.2.3.4.5|3 |3|4")) {
    EXPECT_EQ(walk(payload), Sent{}) << payload;
  }
  const std::string offer = "ConnectNew:Alice|3|0|0 Bytes|1.2.1|1 -> ";
  const std::string capped = "ConnectRqr:10.0.0.5|15 -> 10.0.0.2";
  EXPECT_EQ(walk("10.0.0.5|1"), Sent{offer + "10.0.0.5"});
  EXPECT_EQ(walk("10.0.0.5|2"), (Sent{offer + "10.0.0.5", "ConnectRqr:10.0.0.5|1 -> 10.0.0.2"}));
  EXPECT_EQ(walk("10.0.0.5|2147483647"), (Sent{offer + "10.0.0.5", capped}));
  EXPECT_EQ(walk("10.0.0.5|4294967296"), (Sent{offer + "10.0.0.5", capped}));
  EXPECT_EQ(walk("|1"), Sent{offer + "10.0.0.9"});
  EXPECT_EQ(walk("|3"), (Sent{offer + "10.0.0.9", "ConnectRqr:10.0.0.9|2 -> 10.0.0.2"}));
  // A neighbour is not offered again.
  EXPECT_EQ(walk("10.0.0.2|99999"), Sent{"ConnectRqr:10.0.0.2|15 -> 10.0.0.2"});
}

class HostileSearchTest : public ::testing::Test {
 protected:
  HostileSearchTest() {
    h.AddNeighbours({"10.0.0.2"});
    h.runtime.draws = {0.4166};  // search number 417
    EXPECT_TRUE(h.node.search().StartOrCancel("blue"));
    h.Flush();
  }
  Search& search() { return h.node.search(); }
  static std::string List(int first, int count) {
    std::string list = "SearchList:blue|417|";
    for (int i = first; i < first + count; ++i)
      list += "10." + std::to_string(i / 250 + 100) + "." + std::to_string(i % 250) + ".1|";
    return list;
  }

  NodeHarness h;
};

TEST_F(HostileSearchTest, OneSearchAsksABoundedNumberOfNodesAndStillEnds) {
  // Every list comes from a node the search asked, each naming 32 new ones.
  std::string from = "10.0.0.2";
  std::size_t requests = 0;
  for (int i = 0; i < 70; ++i) {
    requests += h.Receive(List(i * 32, 32), from).size();
    from = "10." + std::to_string(i * 32 / 250 + 100) + "." + std::to_string(i * 32 % 250) + ".1";
  }
  EXPECT_EQ(search().searched_count(), kMaxSearchedUsers);
  EXPECT_EQ(requests, kMaxSearchedUsers - 1);
  // The lists go on, but nothing grows, so the quiet end comes.
  for (int tick = 0; tick < kSearchQuietTicks + 1; ++tick) {
    EXPECT_TRUE(h.Receive(List(5000 + tick * 32, 32), from).empty());
    search().TimeoutTick();
  }
  EXPECT_FALSE(search().running());
  EXPECT_EQ(search().status(), SearchStatus::kNoResults);
}

// Lists from nodes never asked are ignored; a study may move the bound on nodes asked.
TEST_F(HostileSearchTest, ListsFromNodesNeverAskedAreIgnoredAndAStudyMayMoveTheBound) {
  EXPECT_TRUE(h.Receive(List(0, 5), "10.0.0.66").empty());
  EXPECT_EQ(search().searched_count(), 1u);
  search().SetAskLimit(20);
  // The neighbour asked already; the list adds 19 more of its 32.
  EXPECT_EQ(h.Receive(List(0, 32), "10.0.0.2").size(), 19u);
  EXPECT_EQ(search().searched_count(), 20u);
}

// Numbers at every integer boundary in every numeric field of every family, from several
// senders, into a node that has neighbours, shares a file, searches and downloads. The node
// must stay within its bounds; under the sanitizers any overflow ends the test.
TEST(HostilePeersTest, BoundaryNumbersInEveryFieldKeepTheNodeWithinItsBounds) {
  const auto numbers = Words(
      "0 1 -1 32767 -32767 32768 -32768 2147483647 -2147483647 2147483648 -2147483648 4294967295 "
      "4294967296 -4294967296 99999999999999999999 -99999999999999999999");
  const std::string hash = kHash;
  const std::vector<std::string> templates = {
      "ConnectNew:Bob|#|#|1 Mb|1.2.1|#",
      "ConnectEst:Bob|#|#|1 Mb|1.2.1|#",
      "ConnectRqr:10.0.0.77|#",
      "ConnectRqr:|#",
      "SearchFor:song|#|#",
      "SearchList:blue|#|10.0.0.50|",
      "SearchFound:blue|#|x.mp3|#|Bob|#|" + hash + "|Music|info",
      "SearchFound:blue|417|x.mp3|#|Bob|#|" + hash + "|Music|info",
      "SearchDownload:song.mp3|#|Bob|" + hash,
      "SourceSearch:song.mp3|" + hash + "|#",
      "SourceData:got.mp3|10.0.0.60|",
      "SourceFound:got.mp3|" + hash + "|#|#",
      "MiscError:#",
      "Ping+",
      "Pong+",
  };
  const std::vector<std::string> senders = {"10.0.0.2", "10.0.0.3", "10.0.0.9", "10.0.0.77",
                                            "10.0.0.50"};

  NodeHarness h;
  const std::string home = h.home.path().string() + "/";
  AllowTransfers(h.node.preferences(), home);
  Share(h.node, home, "song.mp3", "abc");
  ASSERT_TRUE(StartBusyWork(h.node, h.runtime));
  h.runtime.TakeSent();

  std::mt19937 random(20261207);
  auto pick = [&random](const auto& list) { return list[random() % std::size(list)]; };
  for (int round = 0; round < 3000; ++round) {
    std::string message = pick(templates);
    for (auto at = message.find('#'); at != std::string::npos; at = message.find('#'))
      message.replace(at, 1, pick(numbers));
    const auto sent = h.Receive(message, pick(senders));
    if (round % 50 == 0) {
      for (std::size_t t = 0; t < h.runtime.timers.size(); ++t)
        h.runtime.FireTimer(t);
      h.runtime.RunPosted();
    }
    ASSERT_EQ(BrokenBound(h.node, h.runtime, sent), "") << message;
  }
}

}  // namespace
}  // namespace zorvex
