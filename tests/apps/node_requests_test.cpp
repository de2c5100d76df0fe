#include "apps/node_requests.h"

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "apps/node_options.h"
#include "apps/node_status.h"
#include "im/conversations.h"
#include "im/hot_list.h"
#include "node/node_harness.h"

namespace zorvex {
namespace {

using testing::Messages;
using testing::NodeHarness;
using Kind = NodeRequest::Kind;

struct RequestCase {
  std::vector<std::string> args;
  NodeRequest request;
};

TEST(NodeRequestOptionsTest, EachRequestInItsForms) {
  const std::vector<RequestCase> cases = {
      {{"--away", "on"}, {Kind::kAway, true}},
      {{"--away=off"}, {Kind::kAway, false}},
      {{"--im", "127.0.3.2", "a|b~c\nd"}, {Kind::kIm, false, "127.0.3.2", "", "a|b~c\nd"}},
      {{"--im", "127.0.3.2", ""}, {Kind::kIm, false, "127.0.3.2", "", ""}},
      {{"--im=127.0.3.2", "--status"}, {Kind::kIm, false, "127.0.3.2", "", "--status"}},
      {{"--buddy", "bob=127.0.3.2"}, {Kind::kBuddy, false, "127.0.3.2", "bob"}},
      {{"--buddy=a=b=127.0.3.2"}, {Kind::kBuddy, false, "127.0.3.2", "a=b"}},
      {{"--unbuddy", "127.0.3.2"}, {Kind::kUnbuddy, false, "127.0.3.2"}},
  };
  for (const auto& c : cases) {
    std::string error;
    const auto line = ParseNodeCommandLine(c.args, error);
    ASSERT_TRUE(line) << c.args[0] << ": " << error;
    EXPECT_EQ(line->request, c.request) << c.args[0];
    EXPECT_FALSE(line->start_away);
    EXPECT_TRUE(line->command.empty());
  }
}

TEST(NodeRequestWireTest, RequestsAndRepliesSurviveTheWireAndJunkIsRefused) {
  const std::vector<NodeRequest> requests = {
      {Kind::kAway, true},
      {Kind::kIm, false, "127.0.3.2", "", "x|y\r\n\xff"},
      {Kind::kBuddy, false, "127.0.3.2", "bob"},
      {Kind::kUnbuddy, false, "127.0.3.2"},
  };
  for (const auto& request : requests)
    EXPECT_EQ(DecodeNodeRequest(EncodeNodeRequest(request)), request);
  using namespace std::string_view_literals;
  for (const std::string_view junk :
       {""sv, "away"sv, "away\0maybe"sv, "im\0a"sv, "im\0a\0b\0c"sv, "buddy\0x"sv, "hello"sv}) {
    EXPECT_EQ(DecodeNodeRequest(junk), std::nullopt);
  }
  EXPECT_EQ(DecodeNodeReply(EncodeNodeReply({false, "Invalid IM text!"})),
            (NodeReply{false, "Invalid IM text!"}));
  EXPECT_EQ(DecodeNodeReply(""), std::nullopt);
  EXPECT_EQ(DecodeNodeReply("2x"), std::nullopt);
}

TEST(NodeRequestRunTest, RefusalsCarryTheNodesMessages) {
  NodeHarness h;
  h.node.hot_list().LoadHotList();
  const auto run = [&](NodeRequest request) { return RunNodeRequest(h.node, request); };

  EXPECT_EQ(run({Kind::kIm, false, "10.0.0.2", "", "  "}), (NodeReply{false, "Invalid IM text!"}));
  EXPECT_TRUE(h.node.conversations().conversations().empty());
  EXPECT_EQ(run({Kind::kBuddy, false, "10.0.0.2", "Bob"}),
            (NodeReply{true, "hotlist: added Bob (10.0.0.2)"}));
  EXPECT_EQ(run({Kind::kBuddy, false, "10.0.0.2", "Robert"}),
            (NodeReply{false, "Robert has already been added to your buddylist!"}));
  // The buddy's nickname names a conversation that the user opens.
  EXPECT_EQ(run({Kind::kIm, false, "10.0.0.2", "", "hi"}),
            (NodeReply{true, "im: sent to 10.0.0.2"}));
  EXPECT_EQ(Messages(h.Flush()),
            (std::vector<std::string>{"Ping- -> 10.0.0.2", "MiscIM:Alice|6869 -> 10.0.0.2"}));
  EXPECT_EQ(run({Kind::kAway, true}), (NodeReply{true, "Set Back - 1 IM(s)"}));
  EXPECT_EQ(run({Kind::kIm, false, "10.0.0.3", "", "hi"}),
            (NodeReply{false, "You are currently in away mode!"}));
  EXPECT_EQ(run({Kind::kAway, false}), (NodeReply{true, "Set to Away Mode"}));

  const QJsonObject json =
      QJsonDocument::fromJson(QByteArray::fromStdString(StatusJson(h.node.Snapshot()))).object();
  EXPECT_FALSE(json["away"].toBool());
  EXPECT_EQ(json["conversations"].toArray(),
            (QJsonArray{QJsonObject{
                {"address", "10.0.0.2"}, {"nickname", "Bob"}, {"text", "Alice:  hi"}}}));
  EXPECT_EQ(
      json["hotlist"].toArray(),
      (QJsonArray{QJsonObject{
          {"nickname", "Bob"}, {"address", "10.0.0.2"}, {"online", false}, {"key", "u Bob"}}}));
  EXPECT_EQ(run({Kind::kUnbuddy, false, "10.0.0.2"}),
            (NodeReply{true, "hotlist: removed 1 buddy entries for 10.0.0.2"}));
  EXPECT_TRUE(h.node.Snapshot().hotlist.empty());
}

}  // namespace
}  // namespace zorvex
