// Two real zorvex-node processes on 127.0.3.2 and 127.0.3.3 talking over real datagrams, driven
// by the commands a user types. Needs the right to bind port 620; skipped otherwise.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QThread>

#include <functional>
#include <memory>
#include <string>

#include "support/temp_dir.h"

namespace zorvex {
namespace {

using testing::TempDir;

bool CanBindPort620(const char* address) {
  const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
  if (fd < 0) return false;
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_port = htons(620);
  ::inet_pton(AF_INET, address, &local.sin_addr);
  const bool bound = ::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) == 0;
  ::close(fd);
  return bound;
}

bool WaitFor(const std::function<bool()>& done, int timeout_ms) {
  QElapsedTimer clock;
  clock.start();
  while (clock.elapsed() < timeout_ms) {
    if (done()) return true;
    QThread::msleep(100);
  }
  return done();
}

struct ClientResult {
  int code = -1;
  std::string out;
  std::string err;
};

class TalkingNode {
 public:
  TalkingNode(const std::string& address, QStringList extra) {
    // Nobody serves the gateway address: the bootstrap finds nothing, which is not needed here.
    QStringList args = {"--home",     Home(),
                        "--bind",     QString::fromStdString(address),
                        "--nickname", QString::fromStdString("node-" + address),
                        "--gateway",  "None=127.0.3.1:9/gateway.php"};
    process_.setProgram(ZORVEX_NODE_BINARY);
    process_.setArguments(args + extra);
    process_.setStandardErrorFile(QString::fromStdString((home_.path() / "stderr.log").string()));
    process_.setStandardOutputFile(QProcess::nullDevice());
    process_.start();
    process_.waitForStarted(5000);
  }
  ~TalkingNode() {
    if (process_.state() != QProcess::NotRunning) {
      process_.kill();
      process_.waitForFinished(5000);
    }
  }

  ClientResult Run(const QStringList& args) {
    QProcess client;
    client.setProgram(ZORVEX_NODE_BINARY);
    client.setArguments(QStringList{"--home", Home()} + args);
    client.start();
    client.waitForFinished(10000);
    return {client.exitCode(), client.readAllStandardOutput().toStdString(),
            client.readAllStandardError().toStdString()};
  }

  QJsonObject Status() {
    return QJsonDocument::fromJson(QByteArray::fromStdString(Run({"--status"}).out)).object();
  }
  std::string ErrorOutput() { return testing::ReadFileBytes(home_.path() / "stderr.log"); }
  bool Said(const std::string& line) {
    return WaitFor([&] { return ErrorOutput().find(line) != std::string::npos; }, 10000);
  }

 private:
  QString Home() const { return QString::fromStdString(home_.path().string()); }

  TempDir home_;
  QProcess process_;
};

TEST(ImLoopbackTest, TwoNodesTalkThroughTheCommandLine) {
  if (!CanBindPort620("127.0.3.2")) GTEST_SKIP() << "no right to bind port 620";
  TalkingNode alice("127.0.3.2", {});
  TalkingNode bob("127.0.3.3", {"--away"});
  ASSERT_TRUE(alice.Said("status: ")) << alice.ErrorOutput();
  ASSERT_TRUE(bob.Said("status: ")) << bob.ErrorOutput();

  const ClientResult sent = alice.Run({"--im", "127.0.3.3", "a|b~c\nd"});
  EXPECT_EQ(sent.code, 0) << sent.err;
  EXPECT_EQ(sent.out, "im: sent to 127.0.3.3\n");
  EXPECT_TRUE(bob.Said("im: node-127.0.3.2 (127.0.3.2): a|b~c d\n")) << bob.ErrorOutput();
  EXPECT_TRUE(
      alice.Said("im: node-127.0.3.3 (127.0.3.3): I'm currently away.  Your message has "
                 "been saved.\n"))
      << alice.ErrorOutput();
  const QJsonObject at_bob = bob.Status();
  EXPECT_TRUE(at_bob["away"].toBool());
  ASSERT_EQ(at_bob["conversations"].toArray().size(), 1);
  EXPECT_EQ(at_bob["conversations"].toArray()[0].toObject()["text"].toString(),
            "node-127.0.3.2:  a|b~c\nd");

  const ClientResult blank = alice.Run({"--im", "127.0.3.3", "   "});
  EXPECT_EQ(blank.code, 1);
  EXPECT_EQ(blank.err, "Invalid IM text!\n");

  EXPECT_EQ(alice.Run({"--buddy", "bob=127.0.3.3"}).code, 0);
  const ClientResult twice = alice.Run({"--buddy", "robert=127.0.3.3"});
  EXPECT_EQ(twice.code, 1);
  EXPECT_EQ(twice.err, "robert has already been added to your buddylist!\n");
  EXPECT_TRUE(WaitFor(
      [&] {
        const QJsonArray list = alice.Status()["hotlist"].toArray();
        return list.size() == 1 && list[0].toObject()["online"].toBool() &&
               list[0].toObject()["key"].toString() == "c bob";
      },
      10000));

  const ClientResult back = bob.Run({"--away", "off"});
  EXPECT_EQ(back.code, 0);
  EXPECT_EQ(back.out, "Set to Away Mode\n");
  EXPECT_FALSE(bob.Status()["away"].toBool());
}

}  // namespace
}  // namespace zorvex

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
