#include "network/bootstrap.h"

#include <gtest/gtest.h>

#include "network/peer_table.h"
#include "node/node_harness.h"

namespace zorvex {
namespace {

using namespace testing;

class BootstrapTest : public ::testing::Test {
 protected:
  void SetUp() override {
    h.node.preferences().GatewayList = "Main*gw.example/gateway.php|";
    h.node.SetStatusListener([this](const std::string& line) { lines.push_back(line); });
  }
  NodeHarness h;
  std::vector<std::string> lines;
};

TEST_F(BootstrapTest, OffersEveryCachedHostThenEveryGatewayAddress) {
  Preferences& prefs = h.node.preferences();
  prefs.HostCache[0] = "10.0.1.1";
  prefs.HostCache[5] = "10.0.1.2";
  prefs.HostCache[44] = "10.0.1.3";
  prefs.HostCache[45] = "10.0.1.46";  // never tried
  Bootstrap& bootstrap = h.node.bootstrap();
  bootstrap.StartConnecting(1000);
  EXPECT_TRUE(bootstrap.busy());
  bootstrap.Tick();
  ASSERT_EQ(h.runtime.http_urls, Sent{"gw.example/gateway.php"});
  EXPECT_EQ(lines.size(), 46u);
  EXPECT_EQ(lines[0], "Cache Connection: 1");
  EXPECT_EQ(lines[44], "Cache Connection: 45");
  EXPECT_EQ(lines[45], "Connecting to Gateway...");
  h.runtime.AnswerHttp("10.0.2.1<BR>10.0.2.2<br>10.0.1.1<br><br>10.0.2.3<br>10.0.0.1<br>10.0.2.4");
  h.runtime.RunPosted();
  EXPECT_EQ(lines.back(), "Gateway Connection: 6");
  EXPECT_FALSE(bootstrap.busy());
  const std::string offer = "ConnectNew:Alice|3|0|0 Bytes|1.2.1|0 -> ";
  // The cached 10.0.1.1 listed again on the page is offered twice; our own address never.
  EXPECT_EQ(Messages(h.Flush()),
            (Sent{offer + "10.0.1.1", offer + "10.0.1.2", offer + "10.0.1.3", offer + "10.0.2.1",
                  offer + "10.0.2.2", offer + "10.0.1.1", offer + "10.0.2.3"}));
}

TEST_F(BootstrapTest, AnUnreachableGatewayIsReportedAndTheNextIsTried) {
  h.node.preferences().GatewayList = "A*a.example/gateway.php|B*http://b.example/gateway.php|";
  h.node.bootstrap().StartConnecting(0);
  h.node.bootstrap().Tick();
  h.runtime.AnswerHttp("");
  EXPECT_EQ(lines.back(), "Could Not Establish Gateway Connection!");
  h.runtime.RunPosted();
  EXPECT_EQ(h.runtime.http_urls, (Sent{"a.example/gateway.php", "http://b.example/gateway.php"}));
  h.runtime.AnswerHttp("junk<br>10.0.3.3<br>");
  h.runtime.RunPosted();
  EXPECT_EQ(Messages(h.Flush()), Sent{"ConnectNew:Alice|3|0|0 Bytes|1.2.1|0 -> 10.0.3.3"});
  EXPECT_FALSE(h.node.bootstrap().busy());
}

TEST_F(BootstrapTest, RunsOnlyWhenIdleAndAlone) {
  Bootstrap& bootstrap = h.node.bootstrap();
  bootstrap.StartConnecting(0);
  bootstrap.StartConnecting(0);
  bootstrap.Tick();
  EXPECT_EQ(h.runtime.http_urls.size(), 1u);
  bootstrap.StartConnecting(0);  // still fetching
  EXPECT_FALSE(bootstrap.timer_active());
  h.runtime.AnswerHttp("");
  h.runtime.RunPosted();
  h.AddNeighbours({"10.0.0.2"});
  bootstrap.StartConnecting(0);  // has a neighbour
  EXPECT_FALSE(bootstrap.timer_active());
}

TEST_F(BootstrapTest, WithoutANicknameNothingIsOffered) {
  h.node.preferences().Nickname.clear();
  h.node.preferences().HostCache[0] = "10.0.1.1";
  h.node.bootstrap().StartConnecting(0);
  h.node.bootstrap().Tick();
  EXPECT_TRUE(h.runtime.http_urls.empty());
  EXPECT_TRUE(h.Flush().empty());
  EXPECT_FALSE(h.node.bootstrap().busy());

  // Nothing ran, so the progress bar keeps what it showed.
  StatusModel status;
  status.SetProgress(7);
  Bootstrap own(h.runtime, h.node.peers(), h.node.preferences(), status);
  own.StartConnecting(0);
  own.Tick();
  EXPECT_EQ(status.progress(), 7);
  EXPECT_FALSE(own.busy());
}

TEST(GatewayPageTest, PiecesBeforeEachBreak) {
  const auto parse = [](std::string_view page) {
    std::size_t separators = 0;
    Sent out;
    for (const auto& entry : ParseGatewayPage(page, &separators))
      out.push_back(entry.address);
    return std::make_pair(out, separators);
  };
  EXPECT_EQ(parse("A<br>B"), std::make_pair(Sent{"a"}, std::size_t{1}));
  // " 1.2.3.4" is used unchanged: it is not an address.
  EXPECT_EQ(parse(" 1.2.3.4<Br><br>"), std::make_pair(Sent{" 1.2.3.4", ""}, std::size_t{2}));
  std::string huge;
  for (int i = 0; i < 5000; ++i)
    huge += "10.0.0.1<br>";
  EXPECT_EQ(parse(huge), std::make_pair(Sent(kMaxGatewayEntries, "10.0.0.1"), std::size_t{5000}));
}

}  // namespace
}  // namespace zorvex
