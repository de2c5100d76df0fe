#include "core/dispatcher.h"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace zorvex
