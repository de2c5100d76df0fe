#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/sim/sim_world.h"
#include "support/stream_recorder.h"

namespace zorvex {
namespace {

using testing::Acceptor;
using testing::Pattern;
using testing::Recorder;
using Times = std::vector<std::int64_t>;

constexpr std::uint16_t kPort = 5000;

// Two hosts, a listener on the second and a connected stream from the first.
struct Pair {
  explicit Pair(std::uint64_t seed = 1, LinkProfile link = {})
      : world(seed), a(world.CreateHost("10.0.0.1")), b(world.CreateHost("10.0.0.2")) {
    world.SetDefaultLink(link);
    listener = b->CreateStreamListener(acceptor);
    EXPECT_TRUE(listener->Listen(kPort));
    client = a->CreateStreamSocket();
    client->SetHandler(&out);
  }
  void Connect() {
    client->Connect("10.0.0.2", kPort);
    EXPECT_TRUE(world.RunUntil([&] { return !out.connected_at.empty(); }, 10000));
  }
  // Another stream from the first host, with a recorder of its own.
  struct Dialed {
    std::unique_ptr<Recorder> out;
    std::unique_ptr<StreamSocket> socket;
  };
  Dialed Dial(const std::string& address, std::uint16_t port = kPort) {
    Dialed dialed{std::make_unique<Recorder>(world), a->CreateStreamSocket()};
    dialed.socket->SetHandler(dialed.out.get());
    dialed.socket->Connect(address, port);
    return dialed;
  }
  StreamSocket& Server() { return *acceptor.streams.at(0); }
  Recorder& In() { return *acceptor.recorders.at(0); }

  SimWorld world;
  std::unique_ptr<SimHost> a;
  std::unique_ptr<SimHost> b;
  Acceptor acceptor{world};
  std::unique_ptr<StreamListener> listener;
  Recorder out{world};
  std::unique_ptr<StreamSocket> client;
};

TEST(SimStreamsTest, ConnectTakesALatencyEachWayAndBytesFlowBothWays) {
  Pair p(1, {.latency_ms = 20});
  p.client->Connect("10.0.0.2", kPort);
  EXPECT_FALSE(p.client->Send("early"));  // not connected yet
  p.world.RunFor(20);
  ASSERT_EQ(p.acceptor.incoming_at, Times{20});
  EXPECT_EQ(p.Server().PeerAddress(), "10.0.0.1");
  EXPECT_TRUE(p.out.connected_at.empty());
  p.world.RunFor(20);
  EXPECT_EQ(p.out.connected_at, Times{40});
  EXPECT_EQ(p.client->PeerAddress(), "10.0.0.2");

  const std::string binary("hdr|\0\xff", 6);
  EXPECT_TRUE(p.client->Send(binary));
  EXPECT_EQ(p.client->PendingBytes(), 6u);
  p.world.RunFor(0);
  EXPECT_EQ(p.out.sent, 6u);  // an unlimited link takes the bytes at once
  EXPECT_EQ(p.client->PendingBytes(), 0u);
  p.world.RunFor(20);
  EXPECT_EQ(p.In().data, binary);
  EXPECT_EQ(p.In().data_at, Times{60});

  EXPECT_TRUE(p.Server().Send("Start:x|0"));
  p.world.RunFor(20);
  EXPECT_EQ(p.out.data, "Start:x|0");
  EXPECT_TRUE(p.out.closed_at.empty());
  EXPECT_TRUE(p.In().closed_at.empty());
  EXPECT_EQ(p.world.Stats().stream_connections, 1u);
  EXPECT_EQ(p.world.Stats().stream_bytes_delivered, 15u);
}

TEST(SimStreamsTest, BandwidthPacesDeliveriesAndSendCompletions) {
  Pair p(1, {.latency_ms = 10, .bandwidth_bytes_per_s = 1 << 20});
  p.Connect();
  const std::int64_t start = p.world.NowMs();
  const std::string file = Pattern(1 << 20);
  ASSERT_TRUE(p.client->Send(file));
  p.world.RunFor(500);
  // Half a second moves half the megabyte, whole deliveries of 64 KiB at a time.
  EXPECT_EQ(p.out.sent, 512u * 1024);
  EXPECT_EQ(p.client->PendingBytes(), 512u * 1024);
  ASSERT_TRUE(p.world.RunUntil([&] { return p.In().data.size() == file.size(); }, 5000));
  EXPECT_EQ(p.world.NowMs() - start, 1000 + 10);
  EXPECT_EQ(p.In().data, file);
  EXPECT_EQ(p.out.sent, file.size());
  EXPECT_EQ(p.out.sent_at.back().first - start, 1000);
  for (std::size_t chunk : p.In().chunks)
    EXPECT_LE(chunk, 64u * 1024);
  // Completions come one by one as the bytes leave, not all at once.
  EXPECT_EQ(p.out.sent_at.size(), 16u);
  EXPECT_EQ(p.out.sent_at.front(), std::make_pair(start + 63, std::size_t{64 * 1024}));

  // Two streams on one link share it: each takes about twice as long.
  auto second = p.Dial("10.0.0.2");
  ASSERT_TRUE(p.world.RunUntil([&] { return !second.out->connected_at.empty(); }, 1000));
  const std::int64_t both = p.world.NowMs();
  ASSERT_TRUE(p.client->Send(file));
  ASSERT_TRUE(second.socket->Send(file));
  ASSERT_TRUE(p.world.RunUntil(
      [&] { return p.out.sent == 2 * file.size() && second.out->sent == file.size(); }, 5000));
  EXPECT_NEAR(static_cast<double>(p.world.NowMs() - both), 2000, 70);
}

TEST(SimStreamsTest, SplitDeliveriesKeepOrderAndFollowTheSeed) {
  const auto run = [](std::uint64_t seed) {
    Pair p(seed, {.latency_ms = 5, .split_streams = true});
    p.Connect();
    std::string all;
    for (int i = 0; i < 20; ++i) {
      const std::string message = "Packet:" + std::to_string(1000 + i) + Pattern(300);
      all += message;
      EXPECT_TRUE(p.client->Send(message));
    }
    EXPECT_TRUE(p.world.RunUntil([&] { return p.In().data.size() == all.size(); }, 10000));
    EXPECT_EQ(p.In().data, all);
    EXPECT_EQ(p.out.sent, all.size());
    return p.In().chunks;
  };
  const auto first = run(7);
  EXPECT_GT(first.size(), 2u);
  EXPECT_EQ(run(7), first);
  EXPECT_NE(run(8), first);
}

TEST(SimStreamsTest, CuttingTheRouteClosesBothEndsMidTransfer) {
  Pair p(1, {.latency_ms = 10, .bandwidth_bytes_per_s = 100 * 1024});
  p.Connect();
  ASSERT_TRUE(p.client->Send(Pattern(1 << 20)));
  p.world.RunFor(2000);
  const std::size_t received = p.In().data.size();
  EXPECT_GT(received, 0u);
  EXPECT_EQ(p.world.CutStreams("10.0.0.2", "10.0.0.1"), 1u);
  EXPECT_EQ(p.world.CutStreams("10.0.0.2", "10.0.0.1"), 0u);
  p.world.RunFor(5000);
  EXPECT_EQ(p.out.closed_at.size(), 1u);
  EXPECT_EQ(p.In().closed_at.size(), 1u);
  EXPECT_EQ(p.out.failed + p.In().failed, 2);  // a cut is no orderly close
  EXPECT_EQ(p.In().data.size(), received);     // what was on the way is lost
  EXPECT_FALSE(p.client->Send("more"));
  EXPECT_FALSE(p.Server().Send("more"));
  EXPECT_EQ(p.client->PendingBytes(), 0u);
}

TEST(SimStreamsTest, FailedConnectsReportClosed) {
  Pair p(1, {.latency_ms = 15});
  const auto nobody = p.Dial("10.0.0.2", kPort + 1);  // no listener on that port
  const auto bad = p.Dial("not an address");
  const auto absent = p.Dial("10.0.0.9");  // no such host
  p.world.RunFor(100);
  EXPECT_EQ(nobody.out->closed_at, Times{30});
  EXPECT_EQ(bad.out->closed_at, Times{0});
  EXPECT_EQ(absent.out->closed_at, Times{130 - 100});
  EXPECT_EQ(nobody.out->failed + bad.out->failed + absent.out->failed, 3);
  EXPECT_TRUE(nobody.out->connected_at.empty());

  p.world.SetHostOnline("10.0.0.2", false);
  p.client->Connect("10.0.0.2", kPort);
  p.world.RunFor(100);
  EXPECT_EQ(p.out.closed_at.size(), 1u);
  EXPECT_TRUE(p.acceptor.incoming_at.empty());

  // A listener that drops the stream closes it: the client is connected, then closed.
  p.world.SetHostOnline("10.0.0.2", true);
  p.acceptor.drop = true;
  p.client->Connect("10.0.0.2", kPort);
  p.world.RunFor(100);
  EXPECT_EQ(p.out.connected_at.size(), 1u);
  EXPECT_EQ(p.out.closed_at.size(), 2u);

  // A closed listener takes nothing.
  p.listener->Close();
  EXPECT_EQ(p.listener->Port(), 0);
  p.acceptor.drop = false;
  p.client->Connect("10.0.0.2", kPort);
  p.world.RunFor(100);
  EXPECT_EQ(p.acceptor.incoming_at.size(), 1u);
  EXPECT_EQ(p.out.closed_at.size(), 3u);
}

TEST(SimStreamsTest, ListenPortsAreOnePerAddressAndZeroPicksAFreeOne) {
  Pair p;
  Acceptor& acceptor = p.acceptor;
  auto first = p.a->CreateStreamListener(acceptor);
  auto second = p.a->CreateStreamListener(acceptor);
  auto other = p.b->CreateStreamListener(acceptor);
  EXPECT_EQ(first->Port(), 0);
  ASSERT_TRUE(first->Listen(4662));
  EXPECT_FALSE(second->Listen(4662));
  EXPECT_TRUE(other->Listen(4662));
  // Restarting on another port frees the old one.
  EXPECT_TRUE(first->Listen(4663));
  EXPECT_EQ(first->Port(), 4663);
  EXPECT_TRUE(second->Listen(4662));
  auto ephemeral = p.a->CreateStreamListener(acceptor);
  ASSERT_TRUE(ephemeral->Listen(0));
  EXPECT_EQ(ephemeral->Port(), 49152);
  // A port left by a destroyed host goes to the address's next owner.
  p.b.reset();
  auto b2 = p.world.CreateHost("10.0.0.2");
  auto fresh = b2->CreateStreamListener(acceptor);
  EXPECT_TRUE(fresh->Listen(4662));
  EXPECT_FALSE(other->Listen(4664));  // its host is gone
}

TEST(SimStreamsTest, CloseSendsWhatIsQueuedAndDestroyAborts) {
  Pair p(1, {.latency_ms = 10, .bandwidth_bytes_per_s = 64 * 1024});
  p.Connect();
  ASSERT_TRUE(p.client->Send(Pattern(100 * 1024)));
  ASSERT_TRUE(p.client->Send("Close"));
  p.client->Close();
  EXPECT_FALSE(p.client->Send("x"));
  const std::size_t calls = p.out.Calls();
  p.client.reset();  // a closed stream still flushes after its object is gone
  p.world.RunFor(5000);
  EXPECT_EQ(p.In().data, Pattern(100 * 1024) + "Close");
  EXPECT_EQ(p.In().closed_at.size(), 1u);
  EXPECT_EQ(p.In().failed, 0);
  EXPECT_EQ(p.out.Calls(), calls);

  // Destroying an open stream loses its queue; the far side hears of it after a latency.
  auto dialed = p.Dial("10.0.0.2");
  Recorder& out = *dialed.out;
  ASSERT_TRUE(p.world.RunUntil([&] { return !out.connected_at.empty(); }, 1000));
  ASSERT_TRUE(dialed.socket->Send(Pattern(1 << 20)));
  p.world.RunFor(100);
  dialed.socket.reset();
  const std::int64_t gone = p.world.NowMs();
  ASSERT_TRUE(
      p.world.RunUntil([&] { return !p.acceptor.recorders.at(1)->closed_at.empty(); }, 5000));
  EXPECT_LE(p.world.NowMs() - gone, 10 + 1);
  EXPECT_LT(p.acceptor.recorders.at(1)->data.size(), 1u << 20);
  EXPECT_EQ(out.closed_at.size(), 0u);
}

TEST(SimStreamsTest, DestroyingInsideCallbacksAndDestroyedHostsAreSilent) {
  Pair p(1, {.latency_ms = 10});
  p.Connect();
  // The server drops its stream from inside OnData; the client then hears OnClosed.
  p.In().on_data = [&] { p.acceptor.streams.clear(); };
  ASSERT_TRUE(p.client->Send("hello"));
  ASSERT_TRUE(p.client->Send(Pattern(200 * 1024)));
  p.world.RunFor(100);
  EXPECT_EQ(p.In().chunks.size(), 1u);
  EXPECT_EQ(p.out.closed_at.size(), 1u);

  // The client drops itself from OnConnected.
  p.out.on_connected = [&] { p.client.reset(); };
  p.client->Connect("10.0.0.2", kPort);
  p.world.RunFor(100);
  EXPECT_EQ(p.acceptor.recorders.size(), 2u);
  EXPECT_EQ(p.acceptor.recorders[1]->closed_at.size(), 1u);

  // A destroyed host's streams close; the far side hears of it, the dead side never calls.
  const auto third = p.Dial("10.0.0.2");
  p.world.RunFor(100);
  ASSERT_EQ(p.acceptor.streams.size(), 2u);
  StreamSocket& server = *p.acceptor.streams[1];
  ASSERT_TRUE(server.Send(Pattern(1000)));
  p.b.reset();
  p.world.RunFor(100);
  EXPECT_EQ(third.out->closed_at.size(), 1u);
  const std::size_t calls = p.acceptor.recorders[2]->Calls();
  EXPECT_FALSE(server.Send("x"));
  server.Close();
  p.world.RunFor(100);
  EXPECT_EQ(p.acceptor.recorders[2]->Calls(), calls);
  p.listener.reset();
  p.acceptor.streams.clear();
}

TEST(SimStreamsTest, SameSeedSameRun) {
  const auto run = [] {
    Pair p(
        42,
        {.latency_ms = 7, .jitter_ms = 3, .bandwidth_bytes_per_s = 300000, .split_streams = true});
    p.Connect();
    EXPECT_TRUE(p.client->Send(Pattern(500000)));
    EXPECT_TRUE(p.Server().Send(Pattern(70000)));
    p.world.RunFor(3000);
    return std::make_tuple(p.In().chunks, p.In().data_at, p.out.chunks, p.out.sent_at);
  };
  EXPECT_EQ(run(), run());
}

}  // namespace
}  // namespace zorvex
