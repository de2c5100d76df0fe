#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/sim/sim_world.h"
#include "support/stream_recorder.h"

namespace zorvex {
namespace {

using testing::Arrival;
using testing::Inbox;

// Hosts 10.0.0.1 and 10.0.0.2 with an inbox each.
class SimDatagramTest : public ::testing::Test {
 protected:
  SimWorld world{1};
  std::unique_ptr<SimHost> a = world.CreateHost("10.0.0.1");
  std::unique_ptr<SimHost> b = world.CreateHost("10.0.0.2");
  Inbox inbox_a{world}, inbox_b{world};
};

// And a socket bound to port 620 on each.
class SimNetworkTest : public SimDatagramTest {
 protected:
  std::unique_ptr<DatagramSocket> sock_a = Bound(*a, inbox_a);
  std::unique_ptr<DatagramSocket> sock_b = Bound(*b, inbox_b);

  static std::unique_ptr<DatagramSocket> Bound(SimHost& host, Inbox& inbox) {
    auto socket = host.CreateDatagramSocket(inbox);
    EXPECT_TRUE(socket->Bind(620));
    return socket;
  }
};

TEST_F(SimNetworkTest, DatagramArrivesAfterTheLatencyWithItsSender) {
  EXPECT_EQ(sock_a->LocalAddress(), "10.0.0.1");

  world.RunFor(5);
  const std::string binary("Ping+\0\xff", 7);
  EXPECT_TRUE(sock_a->SendTo(binary, "10.0.0.2", 620));
  world.RunFor(19);
  EXPECT_TRUE(inbox_b.arrivals.empty());
  world.RunFor(1);
  EXPECT_EQ(inbox_b.arrivals, (std::vector<Arrival>{{25, binary, "10.0.0.1"}}));

  // A link of its own, the same both ways; other pairs keep the default.
  world.SetLink("10.0.0.2", "10.0.0.1", {.latency_ms = 70});
  EXPECT_EQ(world.Link("10.0.0.1", "10.0.0.2").latency_ms, 70);
  EXPECT_EQ(world.Link("10.0.0.1", "10.0.0.3").latency_ms, 20);
  EXPECT_TRUE(sock_b->SendTo("pong", "10.0.0.1", 620));
  world.RunFor(100);
  EXPECT_EQ(inbox_a.arrivals, (std::vector<Arrival>{{95, "pong", "10.0.0.2"}}));
  EXPECT_EQ(world.Stats().datagrams_sent, 2u);
  EXPECT_EQ(world.Stats().datagrams_delivered, 2u);
}

TEST_F(SimDatagramTest, PortsBindOncePerAddress) {
  Inbox& inbox = inbox_a;
  auto first = a->CreateDatagramSocket(inbox);
  auto second = a->CreateDatagramSocket(inbox);
  auto other_host = b->CreateDatagramSocket(inbox);
  ASSERT_TRUE(first->Bind(620));
  EXPECT_FALSE(first->Bind(621));  // already bound
  EXPECT_FALSE(second->Bind(620));
  EXPECT_TRUE(other_host->Bind(620));

  first->Close();
  EXPECT_TRUE(second->Bind(620));
  EXPECT_FALSE(first->SendTo("x", "10.0.0.2", 620));  // closed
  second.reset();
  EXPECT_TRUE(first->Bind(620));

  auto ephemeral = a->CreateDatagramSocket(inbox);
  auto ephemeral2 = a->CreateDatagramSocket(inbox);
  EXPECT_TRUE(ephemeral->Bind(0));
  EXPECT_TRUE(ephemeral2->Bind(0));
  EXPECT_TRUE(ephemeral->SendTo("x", "10.0.0.2", 620));

  // A socket left by a destroyed host gives way to the address's next owner.
  auto stale = b->CreateDatagramSocket(inbox);
  other_host.reset();
  ASSERT_TRUE(stale->Bind(620));
  b.reset();
  auto b2 = world.CreateHost("10.0.0.2");
  auto fresh = b2->CreateDatagramSocket(inbox);
  EXPECT_TRUE(fresh->Bind(620));
  stale.reset();  // must not unbind the new owner
  auto contender = b2->CreateDatagramSocket(inbox);
  EXPECT_FALSE(contender->Bind(620));
}

TEST_F(SimDatagramTest, BadSendsFailAndUnboundPortsSwallowDatagrams) {
  auto unbound = a->CreateDatagramSocket(inbox_a);
  EXPECT_FALSE(unbound->SendTo("x", "10.0.0.2", 620));
  auto sock = a->CreateDatagramSocket(inbox_a);
  ASSERT_TRUE(sock->Bind(620));
  for (const char* bad : {"", "host.example", "10.0.0", "10.0.0.2:620", "10.0.0.256"}) {
    EXPECT_FALSE(sock->SendTo("x", bad, 620)) << bad;
  }
  EXPECT_FALSE(sock->SendTo("x", "10.0.0.2", 0));
  EXPECT_EQ(world.Stats().datagrams_sent, 0u);

  auto listener = b->CreateDatagramSocket(inbox_b);
  ASSERT_TRUE(listener->Bind(621));
  EXPECT_TRUE(sock->SendTo("wrong port", "10.0.0.2", 620));
  EXPECT_TRUE(sock->SendTo("no such host", "10.0.0.77", 620));
  EXPECT_TRUE(sock->SendTo("right port", "10.0.0.2", 621));
  world.RunFor(100);
  ASSERT_EQ(inbox_b.arrivals.size(), 1u);
  EXPECT_EQ(inbox_b.arrivals[0].payload, "right port");
  EXPECT_EQ(world.Stats().datagrams_sent, 3u);
  EXPECT_EQ(world.Stats().datagrams_undeliverable, 2u);
  EXPECT_EQ(world.Stats().datagrams_delivered, 1u);

  // In flight when the receiving socket goes away.
  EXPECT_TRUE(sock->SendTo("late", "10.0.0.2", 621));
  listener.reset();
  world.RunFor(100);
  EXPECT_EQ(inbox_b.arrivals.size(), 1u);
  EXPECT_EQ(world.Stats().datagrams_undeliverable, 3u);
  EXPECT_EQ(inbox_a.errors + inbox_b.errors, 0);
}

TEST_F(SimNetworkTest, OfflineHostIsSilentBothWays) {
  world.SetHostOnline("10.0.0.2", false);
  EXPECT_FALSE(world.IsHostOnline("10.0.0.2"));
  EXPECT_TRUE(sock_a->SendTo("to b", "10.0.0.2", 620));
  EXPECT_TRUE(sock_b->SendTo("from b", "10.0.0.1", 620));
  world.RunFor(100);
  EXPECT_TRUE(inbox_a.arrivals.empty());
  EXPECT_TRUE(inbox_b.arrivals.empty());
  EXPECT_EQ(world.Stats().datagrams_lost, 2u);

  world.SetHostOnline("10.0.0.2", true);
  EXPECT_TRUE(sock_a->SendTo("to b", "10.0.0.2", 620));
  world.RunFor(100);
  EXPECT_EQ(inbox_b.arrivals.size(), 1u);
}

// Sends `count` datagrams from a to b over a lossy, jittery link; returns what arrived.
std::vector<Arrival> LossyRun(std::uint64_t seed, int count) {
  SimWorld world(seed);
  world.SetDefaultLink({.latency_ms = 30, .jitter_ms = 40, .loss = 0.25});
  auto a = world.CreateHost("10.0.0.1");
  auto b = world.CreateHost("10.0.0.2");
  Inbox inbox_a(world), inbox_b(world);
  auto sock_a = a->CreateDatagramSocket(inbox_a);
  auto sock_b = b->CreateDatagramSocket(inbox_b);
  EXPECT_TRUE(sock_a->Bind(620));
  EXPECT_TRUE(sock_b->Bind(620));
  for (int i = 0; i < count; ++i) {
    sock_a->SendTo("m" + std::to_string(i), "10.0.0.2", 620);
    world.RunFor(5);
  }
  world.RunFor(1000);
  const SimStats& stats = world.Stats();
  EXPECT_EQ(stats.datagrams_sent, static_cast<std::uint64_t>(count));
  EXPECT_EQ(stats.datagrams_delivered + stats.datagrams_lost, stats.datagrams_sent);
  EXPECT_EQ(stats.datagrams_delivered, inbox_b.arrivals.size());
  return inbox_b.arrivals;
}

TEST(SimLossyLinkTest, JitterAndLossFollowTheSeed) {
  const std::vector<Arrival> first = LossyRun(42, 2000);
  EXPECT_EQ(LossyRun(42, 2000), first);
  EXPECT_NE(LossyRun(43, 2000), first);

  // About a quarter lost; delays spread over the whole jitter range; jitter reorders.
  EXPECT_GT(first.size(), 1400u);
  EXPECT_LT(first.size(), 1600u);
  std::int64_t min_delay = 1'000'000, max_delay = 0;
  bool reordered = false;
  for (std::size_t i = 0; i < first.size(); ++i) {
    const int index = std::stoi(first[i].payload.substr(1));
    const std::int64_t delay = first[i].time_ms - 5 * index;
    min_delay = std::min(min_delay, delay);
    max_delay = std::max(max_delay, delay);
    if (i > 0 && index < std::stoi(first[i - 1].payload.substr(1))) reordered = true;
  }
  EXPECT_EQ(min_delay, 30);
  EXPECT_EQ(max_delay, 70);
  EXPECT_TRUE(reordered);
}

TEST_F(SimNetworkTest, TraceReportsEveryFate) {
  world.SetLink("10.0.0.1", "10.0.0.3", {.loss = 1});
  std::vector<std::string> trace;
  world.SetDatagramTrace([&](const DatagramTrace& t) {
    trace.push_back(std::to_string(t.time_ms) + " " + std::string(t.from) + ">" +
                    std::string(t.to) + ":" + std::to_string(t.port) + " " +
                    std::to_string(t.bytes) + " " + std::to_string(static_cast<int>(t.fate)) + " " +
                    std::string(t.payload));
  });
  sock_a->SendTo("abc", "10.0.0.2", 620);
  sock_a->SendTo("abcd", "10.0.0.3", 620);
  sock_a->SendTo("ab", "10.0.0.2", 9);
  world.RunFor(50);
  EXPECT_EQ(trace, (std::vector<std::string>{"0 10.0.0.1>10.0.0.3:620 4 1 abcd",
                                             "20 10.0.0.1>10.0.0.2:620 3 0 abc",
                                             "20 10.0.0.1>10.0.0.2:9 2 2 ab"}));
}

TEST(SimHttpTest, HttpServesKnownUrlsAndCancelsOnRequest) {
  SimWorld world(1);
  world.SetDefaultLink({.latency_ms = 50});
  auto host = world.CreateHost("10.0.0.1");
  int served = 0;
  world.ServeHttp("gate.example/hosts.txt", [&] { return "1.2.3.4\n" + std::to_string(++served); });
  world.ServeHttp(
      "http://slow.example/", [] { return std::string("slow"); }, 1000);

  std::vector<std::string> bodies;
  std::vector<std::int64_t> times;
  const auto record = [&](std::string body) {
    bodies.push_back(std::move(body));
    times.push_back(world.NowMs());
  };
  auto r1 = host->HttpGet("http://gate.example/hosts.txt", record);
  auto r2 = host->HttpGet("slow.example/", record);
  auto r3 = host->HttpGet("gate.example/other.txt", record);
  auto cancelled = host->HttpGet("gate.example/hosts.txt", record);
  cancelled.reset();
  world.RunFor(2000);
  EXPECT_EQ(bodies, (std::vector<std::string>{"1.2.3.4\n1", "", "slow"}));
  EXPECT_EQ(times, (std::vector<std::int64_t>{50, 50, 1050}));
  EXPECT_EQ(served, 1);
  EXPECT_EQ(world.Stats().http_requests, 4u);

  // Removed while in flight: the answer is empty.
  auto r4 = host->HttpGet("gate.example/hosts.txt", record);
  world.RemoveHttp("http://gate.example/hosts.txt");
  r1.reset();  // destroying a finished request is harmless
  world.RunFor(100);
  EXPECT_EQ(bodies.back(), "");
  EXPECT_EQ(served, 1);
}

}  // namespace
}  // namespace zorvex
