// The neighbour table: offers, walks, the host cache, and the sweep that keeps it alive.
#include "network/peer_table.h"

#include <gtest/gtest.h>

#include "network/bootstrap.h"
#include "network/liveness.h"
#include "node/node_harness.h"

namespace zorvex {
namespace {

using namespace testing;
using PeerTableTest = NodeFixture;

std::vector<std::string> Addresses(const PeerTable& peers) {
  std::vector<std::string> out;
  for (const auto& row : peers.rows())
    out.push_back(row.address);
  return out;
}

// An offer is accepted and answered, an acceptance is not; either way more are asked for, and
// only fast nodes are cached.
TEST_F(PeerTableTest, OffersAreAnsweredAcceptancesNotThenMoreAreAskedFor) {
  EXPECT_EQ(
      Messages(h.Receive("ConnectNew:Bob|7|12|1.5 Gbs|1.2.1|0", "10.0.0.2")),
      (Sent{"ConnectEst:Alice|3|0|0 Bytes|1.2.1|1 -> 10.0.0.2", "ConnectRqr:|9 -> 10.0.0.2"}));
  EXPECT_EQ(Addresses(h.node.peers()), Sent{"10.0.0.2"});
  EXPECT_EQ(h.node.peers().NeighbourList(), "10.0.0.2|");
  EXPECT_TRUE(h.node.peers().connected());
  EXPECT_EQ(h.node.peers().strength(), 12);  // 12.5 to the even neighbour
  EXPECT_TRUE(h.node.liveness().running());
  EXPECT_EQ(h.node.Snapshot().host_cache, Sent{"10.0.0.2"});  // speed 7 is fast
  EXPECT_EQ(Messages(h.Receive("ConnectEst:Carol|3|12|1 Mbs|1.2.1|4", "10.0.0.3")),
            (Sent{"ConnectRqr:|8 -> 10.0.0.2"}));
  EXPECT_EQ(h.node.Snapshot().host_cache, Sent{"10.0.0.2"});  // speed 3 is not
}

TEST_F(PeerTableTest, RepeatedAndMalformedOffersChangeNothing) {
  h.AddNeighbours({"10.0.0.2"});
  EXPECT_TRUE(h.Receive("ConnectNew:Bob|3|12|1 Mbs|1.2.1|0", "10.0.0.2").empty());
  for (const char* bad :
       {"ConnectNew:", "ConnectNew:Bob|3|12|1 Mbs|1.2.1", "ConnectNew:Bob|x|1|s|v|0",
        "ConnectNew:Bob|3|1|s|v|zero", "ConnectNew:Bob|3|99999999999|s|v|0", "ConnectEst:|||||"}) {
    EXPECT_TRUE(h.Receive(bad, "10.0.0.3").empty()) << bad;
  }
  EXPECT_EQ(Addresses(h.node.peers()), Sent{"10.0.0.2"});
}

TEST_F(PeerTableTest, AFullNodeMakesRoomOnlyForANodeWithoutNeighbours) {
  h.AddNeighbours(Words("10.0.1.1 10.0.1.2 10.0.1.3 10.0.1.4 10.0.1.5 10.0.1.6 10.0.1.7 10.0.1.8"));
  ASSERT_EQ(h.node.peers().size(), 8u);
  EXPECT_TRUE(h.Receive("ConnectNew:Carol|1|0|0 Bytes|1.2.1|2", "10.0.9.9").empty());
  EXPECT_EQ(h.node.peers().size(), 8u);
  // Drop row 5 of 8, ask row 1 of 7 for one more, ask row 7 of 7 to walk for the newcomer.
  h.runtime.draws = {0.5, 0.0, 0.99};
  EXPECT_EQ(Messages(h.Receive("ConnectNew:Carol|1|0|0 Bytes|1.2.1|0", "10.0.9.9")),
            (Sent{"ConnectRqr:|1 -> 10.0.1.1", "ConnectRqr:10.0.9.9|10 -> 10.0.1.8",
                  "ConnectEst:Alice|3|0|0 Bytes|1.2.1|8 -> 10.0.9.9"}));
  EXPECT_EQ(Addresses(h.node.peers()),
            Words("10.0.1.1 10.0.1.2 10.0.1.3 10.0.1.4 10.0.1.6 10.0.1.7 10.0.1.8 10.0.9.9"));
}

TEST_F(PeerTableTest, OurOwnOfferComingBackTeachesOurAddress) {
  EXPECT_TRUE(h.Receive("ConnectNew:ALICE|3|0|0 Bytes|1.2.1|0", "192.0.2.7").empty());
  EXPECT_EQ(h.node.preferences().MyIP, "192.0.2.7");
  EXPECT_EQ(h.node.peers().size(), 0u);
  // Another node of the same nickname but other facts is a peer.
  h.Receive("ConnectNew:Alice|3|5|0 Bytes|1.2.1|0", "192.0.2.8");
  EXPECT_EQ(h.node.peers().size(), 1u);
}

TEST(PeerTableHopsTest, HopsForMissingNeighbours) {
  EXPECT_EQ(HopsForMissing(8), 11);
  EXPECT_EQ(HopsForMissing(3), 4);
  EXPECT_EQ(HopsForMissing(1), 1);
  EXPECT_EQ(HopsForMissing(12), 16);
}

TEST_F(PeerTableTest, HostCacheKeepsFortyFiveAddresses) {
  PeerTable& peers = h.node.peers();
  for (int i = 0; i < 45; ++i)
    peers.CacheHost("10.1.0." + std::to_string(i));
  peers.CacheHost("10.1.0.7");
  EXPECT_EQ(h.node.Snapshot().host_cache.size(), 45u);
  h.runtime.draws = {0.1};  // slot 4
  peers.CacheHost("10.2.0.1");
  EXPECT_EQ(h.node.preferences().HostCache[4], "10.2.0.1");
  EXPECT_EQ(h.node.preferences().HostCache[45], "");
  EXPECT_EQ(h.node.Snapshot().host_cache.size(), 45u);
}

TEST_F(PeerTableTest, TheLastNeighbourLeavingDisconnectsAndRestartsTheBootstrap) {
  h.AddNeighbours({"10.0.0.2", "10.0.0.3"});
  EXPECT_EQ(Messages(h.Receive("ConnectDisconnect", "10.0.0.2")),
            (Sent{"ConnectRqr:|9 -> 10.0.0.3"}));
  EXPECT_TRUE(h.Receive("ConnectDisconnect", "10.0.0.3").empty());
  EXPECT_FALSE(h.node.peers().connected());
  EXPECT_EQ(h.node.peers().NeighbourList(), "");
  EXPECT_TRUE(h.node.bootstrap().timer_active());
  // A stranger's "ConnectDisconnect" is no loss.
  h.AddNeighbours({"10.0.0.4"});
  EXPECT_TRUE(h.Receive("ConnectDisconnect", "10.0.0.99").empty());
}

TEST_F(PeerTableTest, AStudysWalkScaleStretchesEveryHopCount) {
  h.node.peers().SetWalkHopsPercent(200);
  // 7 missing: 9 hops, doubled.
  EXPECT_EQ(Messages(h.Receive("ConnectEst:Bob|3|12|1 Mbs|1.2.1|4", "10.0.0.2")),
            (Sent{"ConnectRqr:|18 -> 10.0.0.2"}));
  // The cap on a received count doubles too: 32, less this hop.
  EXPECT_EQ(Messages(h.Receive("ConnectRqr:10.0.0.2|99999", "10.0.0.5")),
            (Sent{"ConnectRqr:10.0.0.2|31 -> 10.0.0.2"}));
  h.AddNeighbours(Words("10.0.1.1 10.0.1.2 10.0.1.3 10.0.1.4 10.0.1.5 10.0.1.6 10.0.1.7"));
  h.runtime.draws = {0.5, 0.0, 0.99};
  const auto sent = Messages(h.Receive("ConnectNew:Carol|1|0|0 Bytes|1.2.1|0", "10.0.9.9"));
  ASSERT_EQ(sent.size(), 3u);
  EXPECT_EQ(sent[1].substr(0, sent[1].find(" ->")), "ConnectRqr:10.0.9.9|20");
}

// The liveness sweep keeps the table to neighbours that answer.
using LivenessTest = NodeFixture;

// Silent neighbours are pinged after the first sweep and dropped at the second; all of them
// gone, the bootstrap starts.
TEST_F(LivenessTest, SilentNeighboursGoAtTheSecondSweep) {
  h.AddNeighbours({"10.0.0.2", "10.0.0.3", "10.0.0.4"});
  h.Ticks(179);
  EXPECT_TRUE(h.Flush().empty());
  h.Ticks(1);  // 180: the rows are confirmed, nobody is pinged
  EXPECT_TRUE(h.Flush().empty());
  h.Ticks(30);  // 210: the first sweep marks them pending
  EXPECT_EQ(h.node.liveness().counter(), 0);
  EXPECT_EQ(Messages(h.Flush()), (Sent{"ConnectRqr:|7 -> 10.0.0.2", "ConnectRqr:|7 -> 10.0.0.2"}));
  ASSERT_EQ(h.node.peers().size(), 3u);
  for (const auto& row : h.node.peers().rows())
    EXPECT_FALSE(row.confirmed) << row.address;
  h.Ticks(180);  // pending rows are pinged
  EXPECT_EQ(Messages(h.Flush()),
            (Sent{"Ping+ -> 10.0.0.2", "Ping+ -> 10.0.0.3", "Ping+ -> 10.0.0.4"}));
  h.Ticks(30);  // second sweep: dropped and told
  EXPECT_EQ(Messages(h.Flush()),
            (Sent{"ConnectDisconnect -> 10.0.0.2", "ConnectDisconnect -> 10.0.0.3",
                  "ConnectDisconnect -> 10.0.0.4"}));
  EXPECT_EQ(h.node.peers().size(), 0u);
  EXPECT_FALSE(h.node.peers().connected());
  EXPECT_TRUE(h.node.bootstrap().timer_active());
}

TEST_F(LivenessTest, PingOrPongBetweenSweepsKeepsANeighbour) {
  h.AddNeighbours({"10.0.0.2", "10.0.0.3"});
  h.Ticks(210);
  h.Flush();
  EXPECT_EQ(Messages(h.Receive("Ping+", "10.0.0.2")), Sent{"Pong+ -> 10.0.0.2"});
  EXPECT_TRUE(h.Receive("Pong+", "10.0.0.3").empty());
  EXPECT_TRUE(h.Receive("Ping+", "10.0.0.9").empty());  // strangers are not answered
  EXPECT_TRUE(h.Receive("Pong+", "10.0.0.9").empty());
  h.Ticks(210);
  EXPECT_EQ(Messages(h.Flush()), (Sent{"ConnectRqr:|8 -> 10.0.0.2", "ConnectRqr:|8 -> 10.0.0.2"}));
  EXPECT_EQ(h.node.peers().size(), 2u);
}

TEST_F(LivenessTest, OnlyPendingRowsArePingedAndDropped) {
  h.AddNeighbours({"10.0.0.2", "10.0.0.3", "10.0.0.4"});
  h.Ticks(210);
  h.Flush();
  h.Receive("Pong+", "10.0.0.2");
  h.Receive("Pong+", "10.0.0.4");
  h.Ticks(180);
  EXPECT_EQ(Messages(h.Flush()), Sent{"Ping+ -> 10.0.0.3"});
  h.runtime.draws = {0.0, 0.0};
  h.Ticks(30);
  EXPECT_EQ(Messages(h.Flush()), (Sent{"ConnectDisconnect -> 10.0.0.3", "ConnectRqr:|8 -> 10.0.0.2",
                                       "ConnectRqr:|8 -> 10.0.0.2"}));
  ASSERT_EQ(h.node.peers().size(), 2u);
  EXPECT_FALSE(h.node.peers().rows()[0].confirmed);
  EXPECT_FALSE(h.node.peers().rows()[1].confirmed);
}

}  // namespace
}  // namespace zorvex
