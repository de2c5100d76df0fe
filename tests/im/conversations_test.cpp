#include "im/conversations.h"

#include <gtest/gtest.h>

#include "core/hex.h"
#include "node/node_harness.h"

namespace zorvex {
namespace {

using namespace testing;

class ConversationsTest : public ::testing::Test {
 protected:
  Conversations& im() { return h.node.conversations(); }
  const Conversation& Only() {
    EXPECT_EQ(im().conversations().size(), 1u);
    return im().conversations().front();
  }
  // The only conversation as "tag peer who [caption] shown|hidden: text".
  std::string Describe() {
    const Conversation& c = Only();
    return c.tag + " " + c.peer_address + " " + c.who_is + " [" + c.caption + "] " +
           (c.visible ? "shown" : "hidden") + ": " + c.text;
  }
  std::vector<std::string> Say(const std::string& address, const std::string& nickname,
                               std::string_view text) {
    return Messages(h.Receive("MiscIM:" + nickname + "|" + EnHex(text), address));
  }

  NodeHarness h;
};

// A first message opens a shown conversation named for the sender; lines join with CR LF, only
// the other side renames it or beeps, and blank texts or messages for another address are refused.
TEST_F(ConversationsTest, AConversationOpensJoinsLinesAndRefusesBlanksAndOtherAddresses) {
  EXPECT_TRUE(h.Receive("MiscIM:Bob|6869", "10.0.0.2").empty());
  EXPECT_EQ(Describe(), "IM>10.0.0.2 10.0.0.2 Bob [Bob - Instant Message] shown: Bob:  hi");
  EXPECT_EQ(im().IMCount(), 1);
  EXPECT_EQ(h.runtime.beeps, 1);  // the window's load

  const std::uint64_t id = Only().id;
  EXPECT_EQ(im().Send(id, "  yo | there  "), SendResult::kSent);
  EXPECT_EQ(Messages(h.Flush()), Sent{"MiscIM:Alice|796F207C207468657265 -> 10.0.0.2"});
  // Messages from the same address in other letter case reach the same window.
  Say("10.0.0.2", "Bobby", "new name");
  const std::string shown =
      "IM>10.0.0.2 10.0.0.2 Bobby [Bobby - Instant Message] shown: "
      "Bob:  hi\r\nAlice:  yo | there\r\nBobby:  new name";
  EXPECT_EQ(Describe(), shown);
  EXPECT_EQ(h.runtime.beeps, 1);  // an open window that is not minimized stays quiet

  for (const std::string_view blank : {"", "   "}) {
    EXPECT_EQ(im().Send(id, blank), SendResult::kInvalidText) << "'" << blank << "'";
  }
  EXPECT_TRUE(h.Flush().empty());
  ASSERT_EQ(h.runtime.boxes.size(), 2u);
  EXPECT_EQ(h.runtime.boxes[1].text, "Invalid IM text!");
  EXPECT_EQ(h.runtime.boxes[1].icon, PromptIcon::kCritical);
  // A message for another address is not shown in the window either.
  im().Display(id, "Mallory", EnHex("spoof"), "10.0.0.66");
  EXPECT_EQ(Describe(), shown);

  im().SetMinimized(id, true);
  Say("10.0.0.2", "Bob", "still there?");
  EXPECT_EQ(h.runtime.beeps, 2);
}

TEST_F(ConversationsTest, AwayModeRepliesOncePerNewConversationAndCountsWindows) {
  Say("10.0.0.2", "Bob", "one");
  Say("10.0.0.3", "Carol", "two");
  im().ToggleAway();
  EXPECT_TRUE(im().away());
  EXPECT_EQ(im().away_caption(), "Set Back - 2 IM(s)");
  for (const Conversation& c : im().conversations())
    EXPECT_FALSE(c.visible);

  // A conversation that already holds lines gets no automatic reply.
  EXPECT_TRUE(Say("10.0.0.2", "Bob", "are you there?").empty());
  EXPECT_EQ(Say("10.0.0.4", "Dave", "hello"),
            Sent{"MiscIM:Alice|49276D2063757272656E746C7920617761792E2020596F7572206D657373616"
                 "76520686173206265656E2073617665642E -> 10.0.0.4"});
  EXPECT_EQ(im().away_caption(), "Set Back - 3 IM(s)");
  EXPECT_TRUE(Say("10.0.0.4", "Dave", "hello again").empty());
  EXPECT_EQ(im().conversations().back().text, "Dave:  hello\r\nDave:  hello again");
  EXPECT_FALSE(im().conversations().back().visible);

  im().ToggleAway();
  EXPECT_EQ(im().away_caption(), "Set to Away Mode");
  for (const Conversation& c : im().conversations())
    EXPECT_TRUE(c.visible);
  EXPECT_TRUE(Say("10.0.0.5", "Eve", "hi").empty());
}

// Away without conversations, exit needs no question and opening one is refused, leaving no
// window; with conversations, the question comes.
TEST_F(ConversationsTest, TheExitQuestionComesOnlyWhileAwayWithConversations) {
  EXPECT_TRUE(im().ConfirmExit());
  im().ToggleAway();
  EXPECT_TRUE(im().ConfirmExit());  // away, but nothing loaded
  im().ReceiveIM("10.0.0.2", "Bob|");
  ASSERT_EQ(h.runtime.boxes.size(), 1u);
  EXPECT_EQ(h.runtime.boxes[0].text, "You are currently in away mode!");
  EXPECT_EQ(h.runtime.boxes[0].icon, PromptIcon::kCritical);
  EXPECT_TRUE(im().conversations().empty());
  EXPECT_EQ(im().IMCount(), 0);
  EXPECT_TRUE(h.Flush().empty());

  im().ToggleAway();
  Say("10.0.0.2", "Bob", "hi");
  im().ToggleAway();
  h.runtime.answer_yes = false;
  EXPECT_FALSE(im().ConfirmExit());
  ASSERT_EQ(h.runtime.questions.size(), 1u);
  EXPECT_EQ(h.runtime.questions[0].text,
            "You have some unread instant messages, are you sure you want to exit?");
  EXPECT_FALSE(im().away());  // "No" leaves away mode
  EXPECT_TRUE(Only().visible);
  im().ToggleAway();
  h.runtime.answer_yes = true;
  EXPECT_TRUE(im().ConfirmExit());
  EXPECT_TRUE(im().away());
}

TEST_F(ConversationsTest, ClearingAsksAndClosingForgetsTheConversation) {
  Say("10.0.0.2", "Bob", "hi");
  h.runtime.answer_yes = false;
  EXPECT_FALSE(im().AskClear(Only().id));
  EXPECT_EQ(Only().text, "Bob:  hi");
  h.runtime.answer_yes = true;
  EXPECT_TRUE(im().AskClear(Only().id));
  EXPECT_EQ(h.runtime.questions[1].text, "Are you sure you want to clear this instant message?");
  EXPECT_EQ(h.runtime.questions[1].title, "Zorvex");
  EXPECT_EQ(Only().text, "");
  im().Close(Only().id);
  EXPECT_EQ(im().IMCount(), 0);
  Say("10.0.0.2", "Bob", "back");
  EXPECT_EQ(Only().text, "Bob:  back");
}

struct HostilePayload {
  std::string payload;
  std::size_t conversations;
  std::string text;
};

TEST_F(ConversationsTest, HostilePayloadsNeitherCrashNorOpenEmptyWindows) {
  const std::vector<HostilePayload> cases = {
      {"MiscIM:Bob", 0, ""},                  // no bar
      {"MiscIM:Bob|", 0, ""},                 // no text: only the user opens empty conversations
      {"MiscIM:|", 0, ""},                    //
      {"MiscIM:Bob||6869", 0, ""},            // an empty second field
      {"MiscIM:Bob|6869|FF", 1, "Bob:  hi"},  // fields after the text are not part of it
      {"MiscIM:Bob|6", 1, "Bob:  \x06"},      // a lone digit stands alone
      {"MiscIM:Bob|zz41", 1, std::string("Bob:  \0A", 8)},
      {"miscim:Bob|6869", 1, "Bob:  hi"},
  };
  for (const auto& c : cases) {
    NodeHarness fresh;
    fresh.Receive(c.payload, "10.0.0.2");
    const auto& list = fresh.node.conversations().conversations();
    ASSERT_EQ(list.size(), c.conversations) << c.payload;
    if (!list.empty()) {
      EXPECT_EQ(list.front().text, c.text) << c.payload;
    }
    EXPECT_TRUE(fresh.runtime.boxes.empty()) << c.payload;
  }
}

TEST_F(ConversationsTest, StrangersCannotGrowConversationsWithoutBound) {
  for (int i = 0; i < static_cast<int>(kMaxConversations) + 5; ++i)
    Say("10.1." + std::to_string(i / 250) + "." + std::to_string(i % 250 + 1), "X", "hi");
  EXPECT_EQ(im().conversations().size(), kMaxConversations);

  const std::string big(30'000, 'a');
  for (int i = 0; i < 4; ++i)
    Say("10.1.0.1", "X", big);
  const std::string& text = im().FindByAddress("10.1.0.1")->text;
  EXPECT_LE(text.size(), kMaxConversationText);
  EXPECT_EQ(text.substr(0, 6), "X:  aa");  // whole lines gave way
  EXPECT_EQ(text.size(), 2 * (big.size() + 4) + 2);
}

}  // namespace
}  // namespace zorvex
