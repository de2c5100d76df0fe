#include <gtest/gtest.h>

#include <algorithm>

#include "im/conversations.h"
#include "im/hot_list.h"
#include "scenario/sim_network.h"
#include "settings/ini_store.h"

namespace zorvex {
namespace {

using testing::kGatewayUrl;
using testing::SimNetwork;

const Conversation* With(Node& node, const std::string& address) {
  return node.conversations().FindByAddress(address);
}

// The buddy's row, or null.
const HotListNode* Buddy(Node& node, const std::string& address) {
  for (const HotListNode& n : node.hot_list().nodes()) {
    if (n.tag == address) return &n;
  }
  return nullptr;
}

bool Online(Node& node, const std::string& address) {
  const HotListNode* buddy = Buddy(node, address);
  return buddy && node.hot_list().IsOnline(*buddy);
}

std::size_t Count(const std::string& text, const std::string& part) {
  std::size_t n = 0;
  for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
    ++n;
  return n;
}

TEST(ImScenarioTest, AMessageWithSeparatorsAndALineBreakArrivesUnchangedAndIsAnswered) {
  SimNetwork net(11);
  Node& a = net.AddNode();
  Node& b = net.AddNode();
  const std::string text = "a|b~c\r\nd | ~";
  ASSERT_EQ(a.SendInstantMessage(net.Address(1), text), std::nullopt);
  ASSERT_TRUE(net.world.RunUntil([&] { return With(b, net.Address(0)) != nullptr; }, 5000));
  const Conversation& at_b = *With(b, net.Address(0));
  EXPECT_EQ(at_b.text, "node1:  " + text);
  EXPECT_EQ(at_b.caption, "node1 - Instant Message");
  EXPECT_TRUE(at_b.visible);

  ASSERT_EQ(b.SendInstantMessage(net.Address(0), "got it"), std::nullopt);
  net.world.RunFor(2000);
  EXPECT_EQ(With(a, net.Address(1))->text, "node1:  " + text + "\r\nnode2:  got it");
  EXPECT_EQ(With(a, net.Address(1))->who_is, "node2");
  EXPECT_EQ(With(b, net.Address(0))->text, "node1:  " + text + "\r\nnode2:  got it");
}

TEST(ImScenarioTest, AwayModeAnswersEachNewConversationOnceAndStopsWhenLeft) {
  SimNetwork net(12);
  Node& a = net.AddNode();
  Node& away = net.AddNode();
  Node& c = net.AddNode();
  away.SetAway(true);
  const std::string reply = "node2:  " + std::string(kAwayReply);
  for (int i = 0; i < 3; ++i) {
    a.SendInstantMessage(net.Address(1), "ping " + std::to_string(i));
    net.world.RunFor(1000);
  }
  c.SendInstantMessage(net.Address(1), "hello");
  net.world.RunFor(3000);
  EXPECT_EQ(Count(With(a, net.Address(1))->text, reply), 1u);
  EXPECT_EQ(Count(With(c, net.Address(1))->text, reply), 1u);
  EXPECT_EQ(away.Snapshot().away_caption, "Set Back - 2 IM(s)");
  ASSERT_NE(With(away, net.Address(0)), nullptr);
  EXPECT_FALSE(With(away, net.Address(0))->visible);
  EXPECT_EQ(With(away, net.Address(0))->text, "node1:  ping 0\r\nnode1:  ping 1\r\nnode1:  ping 2");

  away.SetAway(false);
  EXPECT_TRUE(With(away, net.Address(0))->visible);
  a.SendInstantMessage(net.Address(1), "back?");
  net.world.RunFor(3000);
  EXPECT_EQ(Count(With(a, net.Address(1))->text, reply), 1u);
  EXPECT_EQ(away.Snapshot().away_caption, "Set to Away Mode");
}

TEST(ImScenarioTest, BuddiesThatAnswerStayOnlineAndASilentOneIsOfflineByTheNextCheck) {
  SimNetwork net(13);
  Node& a = net.AddNode();
  net.AddNode();
  net.AddNode();
  // The liveness timer that paces the presence passes runs from the first neighbour on.
  net.world.ServeHttp(kGatewayUrl,
                      [&] { return net.Address(0) + "<br>" + net.Address(1) + "<br>"; });
  ASSERT_EQ(a.hot_list().AddBuddy("node2", net.Address(1)).outcome, AddBuddyOutcome::kAdded);
  ASSERT_EQ(a.hot_list().AddBuddy("node3", net.Address(2)).outcome, AddBuddyOutcome::kAdded);
  ASSERT_TRUE(net.world.RunUntil(
      [&] { return Online(a, net.Address(1)) && Online(a, net.Address(2)); }, 5000));
  EXPECT_EQ(Buddy(a, net.Address(1))->key, "c node2");

  // Thirty minutes, second by second: both stay Online throughout.
  for (int s = 0; s < 30 * 60; ++s) {
    net.world.RunFor(1000);
    ASSERT_TRUE(Online(a, net.Address(1)) && Online(a, net.Address(2))) << s;
  }

  net.world.SetHostOnline(net.Address(2), false);
  const std::int64_t silent = net.world.NowMs();
  ASSERT_TRUE(net.world.RunUntil([&] { return !Online(a, net.Address(2)); }, 10 * 60 * 1000));
  // Going silent just after answering a ping pass, it is gone at the check after the next one.
  EXPECT_LE(net.world.NowMs() - silent, (210 + 30) * 1000 + 1000);
  EXPECT_EQ(Buddy(a, net.Address(2))->key, "u node3");
  EXPECT_TRUE(Online(a, net.Address(1)));

  // Back again: the next ping pass finds it.
  net.world.SetHostOnline(net.Address(2), true);
  ASSERT_TRUE(net.world.RunUntil([&] { return Online(a, net.Address(2)); }, 4 * 60 * 1000));
  EXPECT_EQ(Buddy(a, net.Address(2))->key, "c node3");
}

TEST(ImScenarioTest, TheStoredListSurvivesRestartsAndItsLastBuddyCannotBeRemoved) {
  SimNetwork net(14);
  net.AddNode();
  net.AddNode();
  Node& a = net[0];
  a.hot_list().AddBuddy("node2", net.Address(1));
  a.hot_list().RemoveBuddy("node2", net.Address(1));
  EXPECT_TRUE(a.Snapshot().hotlist.empty());

  // A new start on the same folder: the removed buddy is back, under Offline, and pinged.
  Node& again = net.RestartNode(0);
  const auto hotlist = again.Snapshot().hotlist;
  ASSERT_EQ(hotlist.size(), 1u);
  EXPECT_EQ(hotlist[0].nickname, "node2");
  EXPECT_EQ(hotlist[0].key, "u node2");
  EXPECT_FALSE(hotlist[0].online);
  ASSERT_TRUE(net.world.RunUntil([&] { return Online(again, net.Address(1)); }, 5000));
  EXPECT_EQ(again.Snapshot().hotlist[0].key, "c node2");
}

}  // namespace
}  // namespace zorvex
