#include "core/dispatcher.h"

#include <gtest/gtest.h>

namespace zorvex {
namespace {

TEST(DispatcherTest, KeywordsInTheirFamiliesAnyCase) {
  struct Case {
    std::vector<std::string> messages;
    MessageKind kind;
    std::string payload;
  };
  const std::vector<Case> cases = {
      {{"SearchDownload:a.mp3|5503|Bob|0123"}, MessageKind::kSearchDownload, "a.mp3|5503|Bob|0123"},
      {{"searchfor:5|blue"}, MessageKind::kSearchFor, "5|blue"},
      {{"SearchList:1.2.3.4|"}, MessageKind::kSearchList, "1.2.3.4|"},
      {{"SEARCHFOUND:x"}, MessageKind::kSearchFound, "x"},
      {{"ConnectNew:Bob|3|1|0 Bytes|1.2.1|0"}, MessageKind::kConnectNew, "Bob|3|1|0 Bytes|1.2.1|0"},
      {{"ConnectEst:f"}, MessageKind::kConnectEst, "f"},
      {{"connectrqr:|11"}, MessageKind::kConnectRqr, "|11"},
      {{"ConnectDisconnect"}, MessageKind::kConnectDisconnect, ""},
      {{"ConnectIP:1.2.3.4"}, MessageKind::kConnectIP, "1.2.3.4"},
      {{"SourceSearch:h"}, MessageKind::kSourceSearch, "h"},
      {{"SourceData:d"}, MessageKind::kSourceData, "d"},
      {{"SourceFound:f"}, MessageKind::kSourceFound, "f"},
      {{"Ping+", "ping+"}, MessageKind::kPingPlus, ""},
      {{"Ping+x", "Ping-", "Ping"}, MessageKind::kPingOther, ""},
      {{"Pong+"}, MessageKind::kPongPlus, ""},
      {{"Pong-"}, MessageKind::kPongOther, ""},
      {{"MiscError:Busy"}, MessageKind::kMiscError, "Busy"},
      {{"MiscIM:Bob|hi"}, MessageKind::kMiscIM, "Bob|hi"},
      {{"SearchXYZ", "Connect", "ConnectFoo", "Source", "MiscFoo"}, MessageKind::kIgnored, ""},
      {{"Hello", "", "Sear"}, MessageKind::kUnknown, ""},
  };
  for (const auto& c : cases) {
    for (const auto& message : c.messages) {
      const auto classified = ClassifyMessage(message);
      EXPECT_EQ(classified.kind, c.kind) << message;
      EXPECT_EQ(classified.payload, c.payload) << message;
    }
  }
}

}  // namespace
}  // namespace zorvex
