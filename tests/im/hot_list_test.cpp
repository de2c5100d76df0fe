#include "im/hot_list.h"

#include <gtest/gtest.h>

#include "node/node_harness.h"
#include "settings/ini_store.h"
#include "settings/preferences.h"

namespace zorvex {
namespace {

using namespace testing;

class HotListTest : public ::testing::Test {
 protected:
  HotList& list() { return h.node.hot_list(); }
  std::string Stored() {
    return h.node.store().ReadINI("HotList", "List", h.node.PreferencesFile());
  }
  void Store(std::string_view value) {
    h.node.store().WriteINI("HotList", "List", value, h.node.PreferencesFile());
  }
  // Every node as "key=text@tag under parent".
  std::vector<std::string> Tree() {
    std::vector<std::string> out;
    for (const HotListNode& n : list().nodes())
      out.push_back(n.key + "=" + n.text + "@" + n.tag + " under " + n.parent);
    return out;
  }

  NodeHarness h;
};

// Damaged pieces are skipped; the rest load under "Offline" and are pinged at start-up.
TEST_F(HotListTest, StoredEntriesLoadUnderOfflineAndArePingedAtStartUp) {
  Store("||~10.0.0.9|NoAddress|Nick~|Bob~10.0.0.2~junk|bob~10.0.0.3|Carol~10.0.0.4");
  h.node.Run();
  EXPECT_EQ(Tree(), (Sent{"g MainOnline=Online@ under ", "g MainOffline=Offline@ under ",
                          "u Bob=Bob@10.0.0.2 under g MainOffline",
                          "u Carol=Carol@10.0.0.4 under g MainOffline"}));
  EXPECT_EQ(list().FindGroupNode(true), 0);
  EXPECT_EQ(list().FindGroupNode(false), 1);
  EXPECT_EQ(Messages(h.Flush()), (Sent{"Ping- -> 10.0.0.2", "Ping- -> 10.0.0.4"}));
}

struct DuplicateCase {
  std::string nickname;
  std::string address;
  std::string message;
};

// Added buddies are pinged and saved in tree order; duplicates are refused with their messages.
TEST_F(HotListTest, AddedBuddiesArePingedAndSavedDuplicatesRefused) {
  list().LoadHotList();
  ASSERT_EQ(list().AddBuddy("Bob", "10.0.0.2").outcome, AddBuddyOutcome::kAdded);
  list().AddBuddy("Carol", "10.0.0.4");
  EXPECT_EQ(Messages(h.Flush()), (Sent{"Ping- -> 10.0.0.2", "Ping- -> 10.0.0.4"}));
  const std::vector<DuplicateCase> cases = {
      {"Carol", "10.0.0.2", "Carol has already been added to your buddylist!"},
      {"bob", "10.0.0.2", "bob has already been added to your buddylist!"},  // address first
      {"BOB", "10.0.0.3", "The nickname 'BOB' has already been added to your buddylist!"},
  };
  for (const auto& c : cases) {
    const AddBuddyResult result = list().AddBuddy(c.nickname, c.address);
    EXPECT_EQ(result.outcome, AddBuddyOutcome::kRefused) << c.message;
    EXPECT_EQ(result.message, c.message);
    EXPECT_EQ(h.runtime.boxes.back().text, c.message);
    EXPECT_EQ(h.runtime.boxes.back().icon, PromptIcon::kCritical);
  }
  for (const auto& [nickname, address] : std::vector<std::pair<std::string, std::string>>{
           {"", "10.0.0.3"}, {"Carol", ""}, {"Ca~rol", "10.0.0.3"}, {"Carol", "10.0.0.3|"}}) {
    EXPECT_EQ(list().AddBuddy(nickname, address).outcome, AddBuddyOutcome::kIgnored) << nickname;
  }
  EXPECT_EQ(h.runtime.boxes.size(), cases.size());
  EXPECT_TRUE(h.Flush().empty());
  EXPECT_EQ(Stored(), "Bob~10.0.0.2|Carol~10.0.0.4|");
}

TEST_F(HotListTest, AnAnswerMovesABuddyOnlineOnceAndStrangersAreIgnored) {
  Store("Bob~10.0.0.2|Carol~10.0.0.3|");
  h.node.Run();
  h.Flush();
  EXPECT_TRUE(h.Receive("Pong-", "10.0.0.9").empty());
  h.Receive("Pong-", "10.0.0.3");
  const auto moved =
      Sent{"g MainOnline=Online@ under ", "g MainOffline=Offline@ under ",
           "u Bob=Bob@10.0.0.2 under g MainOffline", "c Carol=Carol@10.0.0.3 under g MainOnline"};
  EXPECT_EQ(Tree(), moved);
  h.Receive("Pong-", "10.0.0.3");
  EXPECT_EQ(Tree(), moved);
  // Presence moves are not saved.
  EXPECT_EQ(Stored(), "Bob~10.0.0.2|Carol~10.0.0.3|");
}

TEST_F(HotListTest, RemovingTakesEveryNodeOfTheAddressAndTheLastLeavesTheListStored) {
  Store("Bob~10.0.0.2|Robert~10.0.0.2|Carol~10.0.0.3|");
  list().LoadHotList();
  EXPECT_EQ(list().RemoveBuddy("ignored", "10.0.0.2"), 2u);
  EXPECT_EQ(Stored(), "Carol~10.0.0.3|");
  EXPECT_EQ(list().RemoveBuddy("Carol", "10.0.0.3"), 1u);
  EXPECT_EQ(list().nodes().size(), 2u);
  // The store writes no empty value: the last buddy comes back at the next start.
  EXPECT_EQ(Stored(), "Carol~10.0.0.3|");
  list().LoadHotList();
  EXPECT_EQ(list().NicknameOf("10.0.0.3"), "Carol");
}

TEST_F(HotListTest, AnsweringBuddiesStayOnlineAndSilentOnesGoOfflineAtTheCheck) {
  Store("Bob~10.0.0.2|Carol~10.0.0.3|");
  h.node.Run();
  h.Receive("Pong-", "10.0.0.2");
  h.Receive("Pong-", "10.0.0.3");
  for (int cycle = 0; cycle < 3; ++cycle) {
    h.Ticks(180);
    EXPECT_EQ(Messages(h.Flush()), (Sent{"Ping- -> 10.0.0.2", "Ping- -> 10.0.0.3"}));
    h.Receive("Pong-", "10.0.0.2");
    if (cycle == 0) h.Receive("Pong-", "10.0.0.3");  // Carol falls silent after this cycle
    h.Ticks(30);
    h.Flush();
    EXPECT_EQ(Tree(), (Sent{"g MainOnline=Online@ under ", "g MainOffline=Offline@ under ",
                            "u Bob=Bob@10.0.0.2 under g MainOnline",
                            cycle == 0 ? "u Carol=Carol@10.0.0.3 under g MainOnline"
                                       : "u Carol=Carol@10.0.0.3 under g MainOffline"}))
        << cycle;
  }
}

}  // namespace
}  // namespace zorvex
