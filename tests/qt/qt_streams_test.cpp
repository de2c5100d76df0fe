#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <QCoreApplication>
#include <QTcpSocket>

#include "platform/qt/qt_runtime.h"
#include "qt/qt_test_support.h"
#include "support/stream_recorder.h"

namespace zorvex {
namespace {

using namespace std::chrono_literals;
using testing::Acceptor;
using testing::Pattern;
using testing::Recorder;
using testing::SpinFor;
using testing::SpinUntil;

// A stream from `runtime` to the address and port, reporting to `out`.
std::unique_ptr<StreamSocket> Dial(QtRuntime& runtime, Recorder& out, const std::string& address,
                                   std::uint16_t port) {
  auto stream = runtime.CreateStreamSocket();
  stream->SetHandler(&out);
  stream->Connect(address, port);
  return stream;
}

// A listener on the address at a free port and a stream connected to it from the same address.
struct Loopback {
  explicit Loopback(const std::string& address = "127.0.0.1") : address(address), runtime(address) {
    listener = runtime.CreateStreamListener(acceptor);
    EXPECT_TRUE(listener->Listen(0));
    EXPECT_NE(listener->Port(), 0);
    client = runtime.CreateStreamSocket();
    client->SetHandler(&out);
  }
  bool Connect() {
    client->Connect(address, listener->Port());
    return SpinUntil([&] { return out.connected == 1 && acceptor.streams.size() == 1; });
  }
  // Another stream to the listener.
  std::unique_ptr<StreamSocket> Dial(Recorder& recorder) {
    return zorvex::Dial(runtime, recorder, address, listener->Port());
  }
  StreamSocket& Server() { return *acceptor.streams.at(0); }
  Recorder& In() { return *acceptor.recorders.at(0); }

  std::string address;
  QtRuntime runtime;
  Acceptor acceptor;
  std::unique_ptr<StreamListener> listener;
  Recorder out;
  std::unique_ptr<StreamSocket> client;
};

TEST(QtStreamsTest, ConnectsAndCarriesBytesBothWays) {
  Loopback l;
  EXPECT_FALSE(l.client->Send("early"));
  ASSERT_TRUE(l.Connect());
  EXPECT_EQ(l.client->PeerAddress(), "127.0.0.1");
  EXPECT_EQ(l.Server().PeerAddress(), "127.0.0.1");
  EXPECT_EQ(l.In().connected, 0);  // an accepted stream is connected from the start

  const std::string header("1000|a.mp3|0\0\xff", 14);
  ASSERT_TRUE(l.client->Send(header));
  ASSERT_TRUE(SpinUntil([&] { return l.In().data.size() == header.size(); }));
  EXPECT_EQ(l.In().data, header);
  ASSERT_TRUE(SpinUntil([&] { return l.out.sent == header.size(); }));
  EXPECT_EQ(l.client->PendingBytes(), 0u);

  ASSERT_TRUE(l.Server().Send("Start:a.mp3|0"));
  ASSERT_TRUE(SpinUntil([&] { return l.out.data == "Start:a.mp3|0"; }));
  EXPECT_EQ(l.out.closed, 0);
  EXPECT_EQ(l.In().closed, 0);
}

TEST(QtStreamsTest, LargeTransferArrivesWholeAndInOrder) {
  Loopback l;
  ASSERT_TRUE(l.Connect());
  const std::string file = Pattern(8 << 20);
  ASSERT_TRUE(l.client->Send(file.substr(0, 1 << 20)));
  ASSERT_TRUE(l.client->Send(file.substr(1 << 20)));
  EXPECT_GT(l.client->PendingBytes(), 0u);
  ASSERT_TRUE(SpinUntil([&] { return l.In().data.size() >= file.size(); }, 60s));
  EXPECT_TRUE(l.In().data == file);
  ASSERT_TRUE(SpinUntil([&] { return l.out.sent == file.size(); }));
  EXPECT_EQ(l.client->PendingBytes(), 0u);
}

// A reader that pauses takes nothing more; the sender's bytes back up behind TCP's window, and
// after resuming everything arrives whole and in order, the bytes before a close included.
TEST(QtStreamsTest, PausedReadingHoldsTheSenderBackUntilResumed) {
  Loopback l("127.0.2.1");
  ASSERT_TRUE(l.Connect());
  auto& client = l.client;
  StreamSocket& server = l.Server();
  Recorder& in = l.In();
  server.SetReadPaused(true);
  const std::string file = Pattern(32 << 20);
  ASSERT_TRUE(client->Send(file));
  SpinFor(300ms);
  const std::size_t while_paused = in.data.size();
  EXPECT_LT(while_paused, file.size() / 2);
  EXPECT_GT(client->PendingBytes(), 0u);
  SpinFor(200ms);
  EXPECT_EQ(in.data.size(), while_paused);
  // The connection lingers on, owned by the application so that it cannot outlive it.
  const auto lingering = [] {
    return QCoreApplication::instance()->findChildren<QTcpSocket*>().size();
  };
  const auto before = lingering();
  client->Close();
  EXPECT_EQ(lingering(), before + 1);
  SpinFor(100ms);
  EXPECT_EQ(in.closed, 0);
  server.SetReadPaused(false);
  ASSERT_TRUE(SpinUntil([&] { return in.closed == 1; }, 60s));
  EXPECT_TRUE(in.data == file);
  EXPECT_EQ(in.failed, 0);
}

TEST(QtStreamsTest, CloseFromEitherSideReportsClosedOnceOnTheOther) {
  Loopback l;
  ASSERT_TRUE(l.Connect());
  // Close flushes what is queued; the closing side hears nothing more.
  ASSERT_TRUE(l.client->Send("Close"));
  l.client->Close();
  EXPECT_FALSE(l.client->Send("x"));
  ASSERT_TRUE(SpinUntil([&] { return l.In().closed == 1; }));
  EXPECT_EQ(l.In().data, "Close");
  SpinFor(100ms);
  EXPECT_EQ(l.In().closed, 1);
  EXPECT_EQ(l.In().failed, 0);
  EXPECT_EQ(l.out.closed, 0);
  EXPECT_FALSE(l.Server().Send("x"));

  // The accepting side closes; the connecting side hears it once.
  Recorder out;
  auto client = l.Dial(out);
  ASSERT_TRUE(SpinUntil([&] { return out.connected == 1 && l.acceptor.streams.size() == 2; }));
  ASSERT_TRUE(l.acceptor.streams[1]->Send("last words"));
  l.acceptor.streams[1]->Close();
  ASSERT_TRUE(SpinUntil([&] { return out.closed == 1; }));
  EXPECT_EQ(out.data, "last words");
  SpinFor(100ms);
  EXPECT_EQ(out.closed, 1);
  EXPECT_EQ(out.failed, 0);
  EXPECT_EQ(l.acceptor.recorders[1]->closed, 0);
}

// An uploader closes and goes right after its last bytes left for the system, while the reader,
// held back by a limit, still has most of them to take and talks back meanwhile: nothing of
// the tail may be lost, and the end is an orderly close.
TEST(QtStreamsTest, ATailStillOnItsWayOutlivesTheSendersCloseAndAReply) {
  Loopback l;
  ASSERT_TRUE(l.Connect());
  l.Server().SetReadPaused(true);
  const std::string file = Pattern(1 << 20);
  ASSERT_TRUE(l.client->Send(file));
  ASSERT_TRUE(SpinUntil([&] { return l.client->PendingBytes() == 0; }));
  l.client->Close();
  l.client.reset();
  SpinFor(100ms);
  ASSERT_LT(l.In().data.size(), file.size());
  ASSERT_TRUE(l.Server().Send("Packet:1084"));
  SpinFor(100ms);
  l.Server().SetReadPaused(false);
  ASSERT_TRUE(SpinUntil([&] { return l.In().closed == 1; }));
  EXPECT_EQ(l.In().failed, 0);
  EXPECT_EQ(l.In().data.size(), file.size());
  EXPECT_TRUE(l.In().data == file);
}

TEST(QtStreamsTest, DestroyingAbortsSilentlyEvenInsideCallbacks) {
  Loopback l;
  ASSERT_TRUE(l.Connect());
  // The accepting side drops its stream from inside OnData.
  // The sender still has bytes queued: it hears of a failure, not of a close.
  l.In().on_data = [&] { l.acceptor.streams.clear(); };
  ASSERT_TRUE(l.client->Send(std::string(64 << 20, 'x')));
  ASSERT_TRUE(SpinUntil([&] { return l.out.closed == 1; }));
  EXPECT_EQ(l.out.failed, 1);
  EXPECT_EQ(l.acceptor.recorders[0]->closed, 0);

  // The connecting side drops itself from OnConnected.
  Recorder out;
  auto client = l.runtime.CreateStreamSocket();
  client->SetHandler(&out);
  out.on_connected = [&] { client.reset(); };
  client->Connect("127.0.0.1", l.listener->Port());
  ASSERT_TRUE(SpinUntil([&] { return l.acceptor.streams.size() == 1; }));
  ASSERT_TRUE(SpinUntil([&] { return l.acceptor.recorders[1]->closed == 1; }));
  EXPECT_EQ(client, nullptr);

  // A listener that drops the stream closes the connection; one destroyed in OnIncoming is safe.
  l.acceptor.drop = true;
  Recorder dropped;
  auto third = l.Dial(dropped);
  ASSERT_TRUE(SpinUntil([&] { return dropped.closed == 1; }));
  l.acceptor.drop = false;
  l.acceptor.on_incoming = [&] { l.listener.reset(); };
  Recorder fourth_out;
  auto fourth = l.Dial(fourth_out);
  ASSERT_TRUE(SpinUntil([&] { return l.listener == nullptr; }));
  ASSERT_TRUE(SpinUntil([&] { return fourth_out.connected == 1; }));
  const int before = fourth_out.closed;
  fourth.reset();  // no callback after destruction
  SpinFor(50ms);
  EXPECT_EQ(fourth_out.closed, before);
}

TEST(QtStreamsTest, ConnectToAClosedPortReportsClosed) {
  Loopback l;
  const std::uint16_t port = l.listener->Port();
  l.listener->Close();
  Recorder out;
  auto client = Dial(l.runtime, out, "127.0.0.1", port);
  ASSERT_TRUE(SpinUntil([&] { return out.closed == 1; }));
  EXPECT_EQ(out.connected, 0);
  client->Connect("not an address", port);
  ASSERT_TRUE(SpinUntil([&] { return out.closed == 2; }));
  SpinFor(50ms);
  EXPECT_EQ(out.closed, 2);
  EXPECT_EQ(out.failed, 2);
}

TEST(QtStreamsTest, StreamsUseTheNodesOwnAddress) {
  QtRuntime downloader("127.0.0.3");
  QtRuntime uploader("127.0.0.2");
  Acceptor acceptor;
  auto listener = downloader.CreateStreamListener(acceptor);
  ASSERT_TRUE(listener->Listen(0));
  const std::uint16_t first_port = listener->Port();
  Recorder out;
  auto client = Dial(uploader, out, "127.0.0.3", first_port);
  ASSERT_TRUE(SpinUntil([&] { return out.connected == 1 && acceptor.streams.size() == 1; }));
  EXPECT_EQ(acceptor.peers, (std::vector<std::string>{"127.0.0.2"}));
  EXPECT_EQ(client->PeerAddress(), "127.0.0.3");

  // The listener only hears its own address.
  Recorder wrong;
  auto other = Dial(uploader, wrong, "127.0.0.4", first_port);
  ASSERT_TRUE(SpinUntil([&] { return wrong.closed == 1; }));

  // Restarted on another port, it listens there and no longer on the old one.
  ASSERT_TRUE(listener->Listen(0));
  const std::uint16_t second_port = listener->Port();
  Recorder again_out;
  auto again = Dial(uploader, again_out, "127.0.0.3", second_port);
  ASSERT_TRUE(SpinUntil([&] { return acceptor.streams.size() == 2; }));
  if (second_port != first_port) {
    Recorder stale_out;
    auto stale = Dial(uploader, stale_out, "127.0.0.3", first_port);
    ASSERT_TRUE(SpinUntil([&] { return stale_out.closed == 1; }));
  }
  // A port in use cannot be had twice.
  Acceptor second_acceptor;
  auto second = downloader.CreateStreamListener(second_acceptor);
  EXPECT_FALSE(second->Listen(second_port));
  listener->Close();
  EXPECT_EQ(listener->Port(), 0);
  EXPECT_TRUE(second->Listen(second_port));
}

}  // namespace
}  // namespace zorvex
