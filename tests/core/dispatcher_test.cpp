#include "core/dispatcher.h"

#include <gtest/gtest.h>

#include "node/commands.h"

namespace zorvex {
namespace {

TEST(DispatcherTest, KeywordsInTheirFamiliesAnyCase) {
  struct Case {
    std::string message;
    MessageKind kind;
    std::string payload;
  };
  const std::vector<Case> cases = {
      {"SearchDownload:a.mp3|5503|Bob|0123", MessageKind::kSearchDownload, "a.mp3|5503|Bob|0123"},
      {"searchfor:5|blue", MessageKind::kSearchFor, "5|blue"},
      {"SearchList:1.2.3.4|", MessageKind::kSearchList, "1.2.3.4|"},
      {"SEARCHFOUND:x", MessageKind::kSearchFound, "x"},
      {"SearchXYZ", MessageKind::kIgnored, ""},
      {"ConnectNew:Bob|3|1|0 Bytes|1.2.1|0", MessageKind::kConnectNew, "Bob|3|1|0 Bytes|1.2.1|0"},
      {"ConnectEst:f", MessageKind::kConnectEst, "f"},
      {"connectrqr:|11", MessageKind::kConnectRqr, "|11"},
      {"ConnectDisconnect", MessageKind::kConnectDisconnect, ""},
      {"ConnectIP:1.2.3.4", MessageKind::kConnectIP, "1.2.3.4"},
      {"Connect", MessageKind::kIgnored, ""},
      {"ConnectFoo", MessageKind::kIgnored, ""},
      {"SourceSearch:h", MessageKind::kSourceSearch, "h"},
      {"SourceData:d", MessageKind::kSourceData, "d"},
      {"SourceFound:f", MessageKind::kSourceFound, "f"},
      {"Source", MessageKind::kIgnored, ""},
      {"Ping+", MessageKind::kPingPlus, ""},
      {"ping+", MessageKind::kPingPlus, ""},
      {"Ping+x", MessageKind::kPingOther, ""},
      {"Ping-", MessageKind::kPingOther, ""},
      {"Ping", MessageKind::kPingOther, ""},
      {"Pong+", MessageKind::kPongPlus, ""},
      {"Pong-", MessageKind::kPongOther, ""},
      {"MiscError:Busy", MessageKind::kMiscError, "Busy"},
      {"MiscIM:Bob|hi", MessageKind::kMiscIM, "Bob|hi"},
      {"MiscFoo", MessageKind::kIgnored, ""},
      {"Hello", MessageKind::kUnknown, ""},
      {"", MessageKind::kUnknown, ""},
      {"Sear", MessageKind::kUnknown, ""},
  };
  for (const auto& c : cases) {
    const auto classified = ClassifyMessage(c.message);
    EXPECT_EQ(classified.kind, c.kind) << c.message;
    EXPECT_EQ(classified.payload, c.payload) << c.message;
  }
}

TEST(CommandTest, LinkCommands) {
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
}

}  // namespace
}  // namespace zorvex
