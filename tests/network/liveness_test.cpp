#include "network/liveness.h"

#include <gtest/gtest.h>

#include "network/bootstrap.h"
#include "network/peer_table.h"
#include "node/node_harness.h"

namespace zorvex {
namespace {

using namespace testing;
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
