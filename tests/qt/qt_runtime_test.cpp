#include "platform/qt/qt_runtime.h"

#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <QHttpServer>
#include <QHttpServerResponse>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QUdpSocket>

#include "platform/qt/terminal_text.h"
#include "qt/qt_test_support.h"
#include "support/stream_recorder.h"

namespace zorvex {
namespace {

using namespace std::chrono_literals;
using testing::Arrival;
using testing::Inbox;
using testing::SpinFor;
using testing::SpinUntil;

// A free UDP port above the privileged range on 127.0.0.1.
std::uint16_t FreeUdpPort() {
  QUdpSocket probe;
  probe.bind(QHostAddress::LocalHost, 0);
  return probe.localPort();
}

std::uint16_t FreeTcpPort() {
  QTcpServer probe;
  probe.listen(QHostAddress::LocalHost, 0);
  return probe.serverPort();
}

bool IsDotted(const std::string& text) {
  QHostAddress address;
  return address.setAddress(QString::fromStdString(text)) &&
         address.protocol() == QAbstractSocket::IPv4Protocol &&
         address.toString().toStdString() == text;
}

// A runtime on 127.0.0.1 with two datagram sockets bound at free ports, each with its handler.
class QtRuntimeDatagramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(sender->Bind(FreeUdpPort()));
    ASSERT_TRUE(receiver->Bind(port));
  }
  QtRuntime runtime{"127.0.0.1"};
  Inbox sender_handler;
  Inbox handler;
  std::unique_ptr<DatagramSocket> sender = runtime.CreateDatagramSocket(sender_handler);
  std::unique_ptr<DatagramSocket> receiver = runtime.CreateDatagramSocket(handler);
  const std::uint16_t port = FreeUdpPort();
};

TEST(QtRuntimeTimerTest, SingleShotFiresOnceAndRepeatingUntilStopped) {
  QtRuntime runtime("127.0.0.1");
  int single = 0;
  int repeating = 0;
  auto once = runtime.CreateTimer(TimerKind::kSingleShot, [&] { ++single; });
  auto again = runtime.CreateTimer(TimerKind::kRepeating, [&] { ++repeating; });
  const std::int64_t started = runtime.NowMs();
  once->Start(10);
  again->Start(10);
  EXPECT_TRUE(once->IsActive());
  ASSERT_TRUE(SpinUntil([&] { return repeating >= 3; }));
  EXPECT_GE(runtime.NowMs() - started, 20);
  EXPECT_EQ(single, 1);
  EXPECT_FALSE(once->IsActive());
  EXPECT_TRUE(again->IsActive());
  again->Stop();
  const int stopped_at = repeating;
  SpinFor(50ms);
  EXPECT_EQ(repeating, stopped_at);
  EXPECT_EQ(single, 1);
}

TEST(QtRuntimeTimerTest, StartRestartsWithTheNewIntervalAndDestroyingCancelsEvenFromTheCallback) {
  QtRuntime runtime;
  int restarted = 0;
  auto timer = runtime.CreateTimer(TimerKind::kSingleShot, [&] { ++restarted; });
  timer->Start(600000);
  timer->Start(5);
  EXPECT_TRUE(SpinUntil([&] { return restarted == 1; }));

  int fired = 0;
  auto cancelled = runtime.CreateTimer(TimerKind::kRepeating, [&] { ++fired; });
  cancelled->Start(5);
  cancelled.reset();

  std::unique_ptr<Timer> self;
  int self_fired = 0;
  self = runtime.CreateTimer(TimerKind::kRepeating, [&] {
    ++self_fired;
    self.reset();
  });
  self->Start(5);
  SpinFor(60ms);
  EXPECT_EQ(fired, 0);
  EXPECT_EQ(self_fired, 1);
  EXPECT_EQ(self, nullptr);
}

TEST(QtRuntimePostTest, RunsLaterInOrderAndNotAfterTheRuntimeIsGone) {
  auto runtime = std::make_unique<QtRuntime>();
  std::vector<int> order;
  runtime->Post([&] {
    order.push_back(1);
    runtime->Post([&] { order.push_back(3); });
  });
  runtime->Post([&] { order.push_back(2); });
  EXPECT_TRUE(order.empty());
  ASSERT_TRUE(SpinUntil([&] { return order.size() == 3; }));
  EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));

  runtime->Post([&] { order.push_back(4); });
  runtime.reset();
  SpinFor(20ms);
  EXPECT_EQ(order.size(), 3u);
}

TEST_F(QtRuntimeDatagramTest, DatagramsArriveWholeWithTheDottedSender) {
  EXPECT_EQ(sender->LocalAddress(), "127.0.0.1");
  const std::string binary("Ping+\0\xff\xe9|end", 12);
  EXPECT_TRUE(sender->SendTo(binary, "127.0.0.1", port));
  EXPECT_TRUE(sender->SendTo("second", "127.0.0.1", port));
  EXPECT_TRUE(sender->SendTo("third", "127.0.0.1", port));
  ASSERT_TRUE(SpinUntil([&] { return handler.arrivals.size() == 3; }));
  EXPECT_EQ(handler.arrivals,
            (std::vector<Arrival>{
                {0, binary, "127.0.0.1"}, {0, "second", "127.0.0.1"}, {0, "third", "127.0.0.1"}}));
  EXPECT_EQ(handler.errors, 0);
}

TEST_F(QtRuntimeDatagramTest, AnySocketReportsPlainIPv4SendersAndAnInterfaceAddress) {
  QtRuntime any_runtime("0.0.0.0");
  Inbox any_handler;
  auto any = any_runtime.CreateDatagramSocket(any_handler);
  const std::uint16_t any_port = FreeUdpPort();
  ASSERT_TRUE(any->Bind(any_port));
  EXPECT_EQ(any_runtime.BindAddress(), "0.0.0.0");
  EXPECT_TRUE(IsDotted(any->LocalAddress())) << any->LocalAddress();
  EXPECT_EQ(any->LocalAddress(), PrimaryIPv4Address());

  ASSERT_TRUE(sender->SendTo("hello", "127.0.0.1", any_port));
  ASSERT_TRUE(SpinUntil([&] { return !any_handler.arrivals.empty(); }));
  EXPECT_EQ(any_handler.arrivals[0], (Arrival{0, "hello", "127.0.0.1"}));
}

TEST_F(QtRuntimeDatagramTest, PortIsNotSharedAndBadSendsFailAtOnce) {
  auto first = runtime.CreateDatagramSocket(handler);
  auto second = runtime.CreateDatagramSocket(handler);
  const std::uint16_t free = FreeUdpPort();
  EXPECT_FALSE(first->SendTo("x", "127.0.0.1", free));  // not bound yet
  ASSERT_TRUE(first->Bind(free));
  EXPECT_FALSE(second->Bind(free));
  EXPECT_FALSE(first->SendTo("x", "", free));
  EXPECT_FALSE(first->SendTo("x", "not an address", free));
  EXPECT_FALSE(first->SendTo("x", "::1", free));
  first->Close();
  EXPECT_FALSE(first->SendTo("x", "127.0.0.1", free));
  EXPECT_TRUE(second->Bind(free));  // free again after the close
}

TEST_F(QtRuntimeDatagramTest, HandlerMayDestroyTheSocketWhileDatagramsWait) {
  handler.on_datagram = [&] { receiver.reset(); };
  for (int i = 0; i < 5; ++i)
    ASSERT_TRUE(sender->SendTo("x", "127.0.0.1", port));
  ASSERT_TRUE(SpinUntil([&] { return receiver == nullptr; }));
  SpinFor(20ms);
  EXPECT_EQ(handler.arrivals.size(), 1u);
}

// A flood waiting in the system's buffer is read a batch at a time, in order, with timers running
// between the batches.
TEST_F(QtRuntimeDatagramTest, WaitingDatagramsAreReadInBatchesWithTimersBetween) {
  std::vector<Arrival> sent;
  for (int i = 0; i < 600; ++i) {
    sent.push_back({0, std::to_string(i) + std::string(i % 3 == 0 ? 40 : 0, 'x'), "127.0.0.1"});
    ASSERT_TRUE(sender->SendTo(sent.back().payload, "127.0.0.1", port));
  }
  std::vector<std::size_t> seen;
  auto timer =
      runtime.CreateTimer(TimerKind::kRepeating, [&] { seen.push_back(handler.arrivals.size()); });
  timer->Start(0);
  ASSERT_TRUE(SpinUntil([&] { return handler.arrivals.size() == sent.size(); }));
  EXPECT_EQ(handler.arrivals, sent);
  seen.push_back(handler.arrivals.size());
  std::size_t before = 0;
  for (const std::size_t count : seen) {
    EXPECT_LE(count - before, 256u);
    before = count;
  }
}

class QtRuntimeHttpTest : public ::testing::Test {
 protected:
  void SetUp() override {
    server.route("/gateway.php", [] {
      return QHttpServerResponse(QByteArrayLiteral("text/html"),
                                 QByteArrayLiteral("10.0.0.1<br>10.0.0.2<br>"));
    });
    port = server.listen(QHostAddress::LocalHost, 0);
    ASSERT_NE(port, 0);
  }

  // Runs a GET to completion; nothing when the callback never came.
  std::optional<std::string> Get(const std::string& url) {
    std::optional<std::string> body;
    auto request = runtime.HttpGet(url, [&](std::string text) { body = std::move(text); });
    SpinUntil([&] { return body.has_value(); });
    return body;
  }

  std::string Url(const std::string& path) const {
    return "127.0.0.1:" + std::to_string(port) + path;
  }

  QHttpServer server;
  quint16 port = 0;
  QtRuntime runtime{"127.0.0.1"};
};

TEST_F(QtRuntimeHttpTest, BodyWithOrWithoutSchemeAndEmptyOnErrors) {
  EXPECT_EQ(Get(Url("/gateway.php")), "10.0.0.1<br>10.0.0.2<br>");
  EXPECT_EQ(Get("http://" + Url("/gateway.php")), "10.0.0.1<br>10.0.0.2<br>");
  EXPECT_EQ(Get(Url("/missing.php")), "");
  EXPECT_EQ(Get("127.0.0.1:" + std::to_string(FreeTcpPort()) + "/gateway.php"), "");
  EXPECT_EQ(Get(""), "");

  // A callback may destroy its request.
  std::unique_ptr<PendingRequest> request;
  std::optional<std::string> body;
  request = runtime.HttpGet(Url("/gateway.php"), [&](std::string text) {
    request.reset();
    body = std::move(text);
  });
  ASSERT_TRUE(SpinUntil([&] { return body.has_value(); }));
  EXPECT_EQ(body, "10.0.0.1<br>10.0.0.2<br>");
  EXPECT_EQ(request, nullptr);
}

// A cancelled request never calls back; a gateway that says nothing, never stops talking or talks
// too much cannot hold up the bootstrap.
TEST_F(QtRuntimeHttpTest, CancelledRequestsAndSilentTricklingOrOversizedPagesFail) {
  QTcpServer silent;
  ASSERT_TRUE(silent.listen(QHostAddress::LocalHost, 0));
  const std::string silent_url =
      "127.0.0.1:" + std::to_string(silent.serverPort()) + "/gateway.php";

  bool called = false;
  auto request = runtime.HttpGet(silent_url, [&](std::string) { called = true; });
  ASSERT_TRUE(SpinUntil([&] { return silent.hasPendingConnections(); }));
  request.reset();
  SpinFor(100ms);
  EXPECT_FALSE(called);

  runtime.SetHttpTimeout(200ms, 5s);
  EXPECT_EQ(Get(silent_url), "");

  QTcpServer trickle;
  ASSERT_TRUE(trickle.listen(QHostAddress::LocalHost, 0));
  std::vector<std::unique_ptr<QTcpSocket>> clients;
  QObject::connect(&trickle, &QTcpServer::newConnection, [&] {
    clients.emplace_back(trickle.nextPendingConnection());
    clients.back()->write("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n");
  });
  QTimer drip;
  QObject::connect(&drip, &QTimer::timeout, [&] {
    for (auto& client : clients)
      client->write("1");
  });
  drip.start(20);
  runtime.SetHttpTimeout(150ms, 600ms);
  EXPECT_EQ(Get("127.0.0.1:" + std::to_string(trickle.serverPort()) + "/gateway.php"), "");

  server.route("/fits.php",
               [] { return QHttpServerResponse("text/html", QByteArray(kMaxHttpBodyBytes, 'x')); });
  server.route("/big.php", [] {
    return QHttpServerResponse("text/html", QByteArray(kMaxHttpBodyBytes + 1, 'x'));
  });
  EXPECT_EQ(Get(Url("/fits.php")), std::string(kMaxHttpBodyBytes, 'x'));
  EXPECT_EQ(Get(Url("/big.php")), "");
}

TEST(TerminalPromptsTest, EveryPromptIsOneLineAndTheRuntimeUsesThemUntilReplaced) {
  std::ostringstream out;
  TerminalPrompts prompts(out);
  prompts.MessageBox("Could not bind the program to port 620.", "Error!", PromptIcon::kCritical);
  prompts.Beep();
  EXPECT_TRUE(prompts.AskYesNo("Sure?\nReally?", "Exit"));
  prompts.MessageBox("Invalid Command!", "", PromptIcon::kNone);
  EXPECT_EQ(out.str(),
            "message box \"Error!\": Could not bind the program to port 620.\n"
            "beep\n"
            "question \"Exit\": Sure? Really? (answered yes)\n"
            "message box \"\": Invalid Command!\n");

  // The runtime uses terminal prompts until replaced.
  QtRuntime runtime;
  EXPECT_NE(dynamic_cast<TerminalPrompts*>(&runtime.Prompts()), nullptr);
  std::ostringstream other_out;
  TerminalPrompts other(other_out);
  runtime.SetPrompts(other);
  runtime.Prompts().Beep();
  EXPECT_EQ(other_out.str(), "beep\n");
  const double value = runtime.Random().Uniform();
  EXPECT_GE(value, 0.0);
  EXPECT_LT(value, 1.0);
}

TEST(TerminalTextTest, ControlBytesAreEscapedAndUtf8Passes) {
  struct Case {
    std::string in;
    std::string out;
  };
  for (const Case& c : std::vector<Case>{
           {"Error Received: plain", "Error Received: plain"},
           {"two\r\nlines", "two  lines"},
           {"\x1b[2J\x1b]0;title\x07", "\\x1b[2J\\x1b]0;title\\x07"},
           {"tab\there\x7f", "tab\\x09here\\x7f"},
           {std::string("nul\0end", 7), "nul\\x00end"},
           {"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x8e\xb5 \xc5\x9b",
            "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x8e\xb5 \xc5\x9b"},
           {"csi \xc2\x9b and \x9b", "csi \\xc2\\x9b and \\x9b"},
           {"latin \xe9t\xe9 \xc3", "latin \\xe9t\\xe9 \\xc3"},
           {"overlong \xc0\xaf \xe0\x80\xaf", "overlong \\xc0\\xaf \\xe0\\x80\\xaf"},
       }) {
    EXPECT_EQ(TerminalText(c.in), c.out) << c.in;
  }
}

}  // namespace
}  // namespace zorvex
