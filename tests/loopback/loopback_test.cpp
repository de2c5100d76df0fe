// Real zorvex-node processes on 127.0.0.2 to 127.0.0.4, talking over real datagrams on port 620.
// Needs the right to bind port 620 (root, or the capability on the binary); skipped otherwise.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <csignal>

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTcpServer>
#include <QThread>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>

#include "core/rc4.h"
#include "support/temp_dir.h"

namespace zorvex {
namespace {

using testing::TempDir;

// Port 620 at the dotted address.
sockaddr_in Port620(const char* address) {
  sockaddr_in at{};
  at.sin_family = AF_INET;
  at.sin_port = htons(620);
  ::inet_pton(AF_INET, address, &at.sin_addr);
  return at;
}

bool CanBindPort620(const char* address) {
  const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
  if (fd < 0) return false;
  const sockaddr_in local = Port620(address);
  const bool bound = ::bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) == 0;
  ::close(fd);
  return bound;
}

QString Path(const std::filesystem::path& path) {
  return QString::fromStdString(path.string());
}

// A gateway page served by one node at a free TCP port of its address.
struct LocalGateway {
  explicit LocalGateway(const char* address) {
    QTcpServer probe;
    probe.listen(QHostAddress(address), 0);
    at = QString("%1:%2").arg(address).arg(probe.serverPort());
  }
  QStringList Use() const { return {"--gateway", "Local=" + at + "/gateway.php"}; }
  QStringList Serve() const { return Use() + QStringList{"--serve-gateway", at}; }
  QString at;
};

// Starts zorvex-node on the program folder; its output goes to the files named, or nowhere.
void Start(QProcess& process, const std::filesystem::path& home, const QStringList& args,
           const QString& errors = QProcess::nullDevice(),
           const QString& output = QProcess::nullDevice()) {
  process.setProgram(ZORVEX_NODE_BINARY);
  process.setArguments(QStringList{"--home", Path(home)} + args);
  process.setStandardErrorFile(errors);
  process.setStandardOutputFile(output);
  process.start();
}

QJsonObject StatusOf(const std::filesystem::path& home) {
  QProcess client;
  client.start(ZORVEX_NODE_BINARY, {"--home", Path(home), "--status"});
  client.waitForFinished(10000);
  return QJsonDocument::fromJson(client.readAllStandardOutput()).object();
}

class RunningNode {
 public:
  RunningNode(const std::string& address, const QStringList& extra) : address_(address) {
    const QString name = QString::fromStdString(address);
    // A file, not a pipe: nobody has to keep reading while the node talks.
    Start(process_, home_.path(), QStringList{"--bind", name, "--nickname", "node-" + name} + extra,
          Path(home_ / "stderr.log"));
    process_.waitForStarted(5000);
  }
  ~RunningNode() {
    if (process_.state() != QProcess::NotRunning) {
      process_.kill();
      process_.waitForFinished(5000);
    }
  }

  // Runs zorvex-node once more against this node's program folder.
  QProcess* Client(const QStringList& args) {
    auto* client = new QProcess;
    client->setProgram(ZORVEX_NODE_BINARY);
    client->setArguments(QStringList{"--home", Path(home_.path())} + args);
    client->start();
    client->waitForFinished(10000);
    return client;
  }

  // Up once the first status line shows: it then answers other copies.
  bool WaitUntilUp();

  QJsonObject Status() { return StatusOf(home_.path()); }

  std::vector<std::string> Neighbours() {
    std::vector<std::string> out;
    for (const auto& entry : Status().value("neighbours").toArray()) {
      out.push_back(entry.toObject().value("address").toString().toStdString());
    }
    return out;
  }

  bool HasNeighbour(const std::string& address) {
    const auto all = Neighbours();
    return std::find(all.begin(), all.end(), address) != all.end();
  }

  void Terminate() {
    process_.terminate();  // SIGTERM: the exit sequence runs
    process_.waitForFinished(10000);
  }

  std::string ErrorOutput() { return testing::ReadFileBytes(home_.path() / "stderr.log"); }

  QProcess& process() { return process_; }

 private:
  std::string address_;
  TempDir home_;
  QProcess process_;
};

bool WaitFor(const std::function<bool()>& done, int timeout_ms) {
  QElapsedTimer clock;
  clock.start();
  while (clock.elapsed() < timeout_ms) {
    if (done()) return true;
    QThread::msleep(200);
  }
  return done();
}

bool RunningNode::WaitUntilUp() {
  return WaitFor([this] { return ErrorOutput().find("status: ") != std::string::npos; }, 10000);
}

// Its shared folders are scanned and hold `count` files (any number but none when 0).
bool Scanned(RunningNode& node, int count = 0) {
  const auto shared = node.Status().value("shared").toObject();
  const int files = shared.value("count").toInt();
  return !shared.value("scanning").toBool() && (count ? files == count : files != 0);
}

TEST(LoopbackTest, ThreeNodesMeetTalkAndLeave) {
  if (!CanBindPort620("127.0.0.2")) GTEST_SKIP() << "no right to bind port 620";
  const LocalGateway gateway("127.0.0.2");
  RunningNode a("127.0.0.2", gateway.Serve());
  RunningNode b("127.0.0.3", gateway.Use());
  // C's gateway answers nothing: it stays alone until told where to go.
  RunningNode c("127.0.0.4", {"--gateway", "Nowhere=127.0.0.4:9/gateway.php"});
  for (RunningNode* node : {&a, &b, &c})
    ASSERT_TRUE(node->WaitUntilUp()) << node->ErrorOutput();

  ASSERT_TRUE(
      WaitFor([&] { return a.HasNeighbour("127.0.0.3") && b.HasNeighbour("127.0.0.2"); }, 20000))
      << a.ErrorOutput() << b.ErrorOutput();
  const QJsonObject status = b.Status();
  EXPECT_EQ(status.value("my_ip").toString(), "127.0.0.3");
  EXPECT_EQ(status.value("nickname").toString(), "node-127.0.0.3");
  EXPECT_TRUE(status.value("connected").toBool());
  EXPECT_GT(status.value("packets").toObject().value("in").toInt(), 0);
  EXPECT_TRUE(c.Neighbours().empty());

  // A link command forwarded to the running copy.
  std::unique_ptr<QProcess> forward(c.Client({"zx://connect|127.0.0.2/"}));
  EXPECT_EQ(forward->exitCode(), 0) << forward->readAllStandardError().toStdString();
  ASSERT_TRUE(
      WaitFor([&] { return c.HasNeighbour("127.0.0.2") && a.HasNeighbour("127.0.0.4"); }, 10000))
      << c.ErrorOutput();
  std::unique_ptr<QProcess> bad(c.Client({"zx://get|a.mp3|5|tooshort"}));
  EXPECT_TRUE(WaitFor(
      [&] { return c.ErrorOutput().find("Invalid Hash Size!") != std::string::npos; }, 5000));

  // A leaver says goodbye to every node in its table: they drop it at once. (A row one side
  // holds alone, left by a full table making room, goes at that side's next sweeps instead.)
  const auto told = b.Neighbours();
  ASSERT_FALSE(told.empty());
  b.Terminate();
  EXPECT_EQ(b.process().exitStatus(), QProcess::NormalExit);
  EXPECT_TRUE(WaitFor(
      [&] {
        for (const auto& address : told) {
          RunningNode& other = address == "127.0.0.2" ? a : c;
          if (other.HasNeighbour("127.0.0.3")) return false;
        }
        return true;
      },
      5000));
  a.Terminate();
  c.Terminate();
}

// Two nodes on 127.0.3.x talk through the commands a user types.
TEST(ImLoopbackTest, TwoNodesTalkThroughTheCommandLine) {
  if (!CanBindPort620("127.0.3.2")) GTEST_SKIP() << "no right to bind port 620";
  const QStringList nowhere = {"--gateway", "Nowhere=127.0.3.1:9/gateway.php"};
  RunningNode a("127.0.3.2", nowhere);
  RunningNode b("127.0.3.3", nowhere + QStringList{"--away"});
  ASSERT_TRUE(a.WaitUntilUp() && b.WaitUntilUp()) << a.ErrorOutput() << b.ErrorOutput();
  auto said = [](RunningNode& node, const std::string& line) {
    return WaitFor([&] { return node.ErrorOutput().find(line) != std::string::npos; }, 10000);
  };

  std::unique_ptr<QProcess> sent(a.Client({"--im", "127.0.3.3", "a|b~c\nd"}));
  EXPECT_EQ(sent->exitCode(), 0);
  EXPECT_EQ(sent->readAllStandardOutput().toStdString(), "im: sent to 127.0.3.3\n");
  EXPECT_TRUE(said(b, "im: node-127.0.3.2 (127.0.3.2): a|b~c d\n")) << b.ErrorOutput();
  EXPECT_TRUE(said(a,
                   "im: node-127.0.3.3 (127.0.3.3): I'm currently away.  Your message has "
                   "been saved.\n"))
      << a.ErrorOutput();
  const QJsonObject at_b = b.Status();
  EXPECT_TRUE(at_b["away"].toBool());
  EXPECT_EQ(at_b["conversations"].toArray()[0].toObject()["text"].toString(),
            "node-127.0.3.2:  a|b~c\nd");

  std::unique_ptr<QProcess> blank(a.Client({"--im", "127.0.3.3", "   "}));
  EXPECT_EQ(blank->exitCode(), 1);
  EXPECT_EQ(blank->readAllStandardError().toStdString(), "Invalid IM text!\n");
  std::unique_ptr<QProcess> added(a.Client({"--buddy", "bob=127.0.3.3"}));
  EXPECT_EQ(added->exitCode(), 0);
  std::unique_ptr<QProcess> twice(a.Client({"--buddy", "robert=127.0.3.3"}));
  EXPECT_EQ(twice->exitCode(), 1);
  EXPECT_EQ(twice->readAllStandardError().toStdString(),
            "robert has already been added to your buddylist!\n");
  EXPECT_TRUE(WaitFor(
      [&] {
        const QJsonObject buddy = a.Status()["hotlist"].toArray()[0].toObject();
        return buddy["online"].toBool() && buddy["key"].toString() == "c bob";
      },
      10000));

  std::unique_ptr<QProcess> back(b.Client({"--away", "off"}));
  EXPECT_EQ(back->readAllStandardOutput().toStdString(), "Set to Away Mode\n");
  EXPECT_FALSE(b.Status()["away"].toBool());
  a.Terminate();
  b.Terminate();
}

TEST(LoopbackTest, ASecondCopyWithoutACommandIsRefused) {
  if (!CanBindPort620("127.0.0.5")) GTEST_SKIP() << "no right to bind port 620";
  RunningNode a("127.0.0.5", {"--gateway", "Nowhere=127.0.0.5:9/gateway.php"});
  ASSERT_TRUE(a.WaitUntilUp()) << a.ErrorOutput();
  EXPECT_EQ(a.Status().value("nickname").toString(), "node-127.0.0.5");
  std::unique_ptr<QProcess> second(a.Client({}));
  EXPECT_EQ(second->exitCode(), 1);
  EXPECT_NE(second->readAllStandardError().toStdString().find("You already have Zorvex running!"),
            std::string::npos);
  a.Terminate();
}

std::string Md5Hex(const std::string& bytes) {
  return QCryptographicHash::hash(QByteArray::fromStdString(bytes), QCryptographicHash::Md5)
      .toHex()
      .toUpper()
      .toStdString();
}

TEST(LoopbackTest, ASearchFindsEverySharedMatchWithItsHash) {
  if (!CanBindPort620("127.0.0.6")) GTEST_SKIP() << "no right to bind port 620";
  TempDir shares;
  struct File {
    std::string folder;
    std::string name;
    std::string bytes;
  };
  const std::vector<File> files = {
      {"one", "Blue Moon.mp3", "blue moon song"},
      {"two", "moonlight blues.ogg", std::string(300000, 'm') + "end"},
      {"three", "Blue Moon live.mp3", "x"},
      {"three", "blue sky.txt", "sky"},
  };
  for (const auto& file : files) {
    std::filesystem::create_directories(shares / file.folder);
    testing::WriteFileBytes(shares / file.folder / file.name, file.bytes);
  }
  const LocalGateway gateway("127.0.0.6");
  auto share = [&](const char* folder) { return QStringList{"--share", Path(shares / folder)}; };
  RunningNode a("127.0.0.6", gateway.Serve() + share("one"));
  RunningNode b("127.0.0.7", gateway.Use() + share("two"));
  RunningNode c("127.0.0.8", gateway.Use() + share("three"));
  for (RunningNode* node : {&a, &b, &c})
    ASSERT_TRUE(node->WaitUntilUp()) << node->ErrorOutput();
  ASSERT_TRUE(WaitFor([&] { return Scanned(a) && Scanned(b) && Scanned(c); }, 20000));

  TempDir searcher_home;
  QProcess searcher;
  Start(searcher, searcher_home.path(),
        QStringList{"--bind", "127.0.0.9", "--nickname", "searcher", "--search", "blue moon"} +
            gateway.Use() + share("one"),
        Path(searcher_home / "stderr.log"), "");
  ASSERT_TRUE(searcher.waitForFinished(90000));
  EXPECT_EQ(searcher.exitCode(), 0) << testing::ReadFileBytes(searcher_home / "stderr.log");
  std::vector<std::string> lines;
  for (const auto& line : QString::fromUtf8(searcher.readAllStandardOutput()).split('\n')) {
    if (!line.isEmpty()) lines.push_back(line.toStdString());
  }
  std::sort(lines.begin(), lines.end());
  EXPECT_EQ(lines,
            (std::vector<std::string>{
                "Blue Moon live.mp3\t1\t" + Md5Hex("x") + "\tnode-127.0.0.8\t------\t127.0.0.8\t",
                "Blue Moon.mp3\t14\t" + Md5Hex("blue moon song") +
                    "\tnode-127.0.0.6\t------\t127.0.0.6\t",
                "moonlight blues.ogg\t300003\t" + Md5Hex(files[1].bytes) +
                    "\tnode-127.0.0.7\t------\t127.0.0.7\t",
            }));
  for (RunningNode* node : {&a, &b, &c})
    node->Terminate();
}

TEST(LoopbackTest, ADownloadSurvivesItsUploaderDyingAndResumesFromAnother) {
  if (!CanBindPort620("127.0.0.10")) GTEST_SKIP() << "no right to bind port 620";
  TempDir shares;
  for (const char* folder : {"a", "c", "own"})
    std::filesystem::create_directories(shares / folder);
  // 200 MiB that are not all alike, held by two sources.
  std::string block(1 << 20, '\0');
  std::uint64_t x = 2463534242u;
  for (auto& ch : block) {
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    ch = static_cast<char>(x);
  }
  {
    std::ofstream out(shares / "a" / "big.bin", std::ios::binary);
    for (int i = 0; i < 200; ++i) {
      block[0] = static_cast<char>(i);
      out.write(block.data(), static_cast<std::streamsize>(block.size()));
    }
  }
  std::filesystem::copy_file(shares / "a" / "big.bin", shares / "c" / "big.bin");
  testing::WriteFileBytes(shares / "own" / "own.txt", "something to share");
  const std::string hash = Md5Hex(testing::ReadFileBytes(shares / "a" / "big.bin"));
  const std::int64_t size = std::int64_t{200} << 20;

  const LocalGateway gateway("127.0.0.13");
  auto share = [&](const char* folder) { return QStringList{"--share", Path(shares / folder)}; };
  RunningNode g("127.0.0.13", gateway.Serve() + share("own"));
  ASSERT_TRUE(g.WaitUntilUp()) << g.ErrorOutput();
  std::map<std::string, std::unique_ptr<RunningNode>> sources;
  sources["127.0.0.10"] = std::make_unique<RunningNode>("127.0.0.10", gateway.Use() + share("a"));
  sources["127.0.0.12"] = std::make_unique<RunningNode>("127.0.0.12", gateway.Use() + share("c"));
  ASSERT_TRUE(WaitFor(
      [&] { return Scanned(*sources["127.0.0.10"], 1) && Scanned(*sources["127.0.0.12"], 1); },
      30000));

  TempDir home;
  QProcess downloader;
  const QString link =
      QString::fromStdString("zx://get|big.bin|" + std::to_string(size) + "|" + hash + "|");
  Start(downloader, home.path(),
        QStringList{"--bind", "127.0.0.11", "--nickname", "downloader", "--get", link} +
            gateway.Use() + share("own"),
        Path(home / "stderr.log"), Path(home / "progress.log"));
  const auto temporary = home / "Downloads" / "big.binTMP";
  const auto finished = home / "Downloads" / "big.bin";

  // Kill the source that is sending once about half has arrived.
  std::error_code ec;
  QElapsedTimer clock;
  clock.start();
  while (clock.elapsed() < 90000 &&
         !(std::filesystem::exists(temporary, ec) &&
           std::filesystem::file_size(temporary, ec) >= static_cast<std::uintmax_t>(size / 2))) {
    QThread::usleep(500);
  }
  std::string killed;
  for (auto& [address, node] : sources) {
    if (!node->Status().value("uploads").toArray().isEmpty()) {
      ::kill(static_cast<pid_t>(node->process().processId()), SIGKILL);
      node->process().waitForFinished(5000);
      killed = address;
    }
  }
  ASSERT_FALSE(killed.empty()) << testing::ReadFileBytes(home / "stderr.log");
  ASSERT_LT(std::filesystem::file_size(temporary, ec), static_cast<std::uintmax_t>(size))
      << "finished before the source died";

  // The other source finishes the file.
  ASSERT_TRUE(downloader.waitForFinished(150000));
  EXPECT_EQ(downloader.exitCode(), 0) << testing::ReadFileBytes(home / "progress.log");
  ASSERT_TRUE(std::filesystem::exists(finished));
  EXPECT_FALSE(std::filesystem::exists(temporary));
  EXPECT_EQ(Md5Hex(testing::ReadFileBytes(finished)), hash);
  // Resumed, not restarted: once the row showed half done, it never showed less again.
  bool half = false;
  for (const auto& line :
       QString::fromStdString(testing::ReadFileBytes(home / "progress.log")).split('\n')) {
    const auto columns = line.split('\t');
    if (columns.size() < 2) continue;
    const int percent = columns[1].chopped(1).toInt();
    if (percent >= 45) half = true;
    if (half) {
      EXPECT_GE(percent, 40) << line.toStdString();
    }
  }
  EXPECT_TRUE(half);
}

// A download whose node is killed comes back when the node starts again: it finds its source by
// itself, resumes from the temporary file (less the 4096 bytes fetched again) and ends with the
// right MD5. The upload limit keeps the transfer slow enough to stop it in the middle.
TEST(LoopbackTest, AKilledDownloaderResumesItsDownloadAfterARestart) {
  if (!CanBindPort620("127.0.2.2") || !CanBindPort620("127.0.2.3")) {
    GTEST_SKIP() << "no right to bind port 620";
  }
  TempDir shares;
  std::filesystem::create_directories(shares / "a");
  std::filesystem::create_directories(shares / "own");
  const std::int64_t size = std::int64_t{32} << 20;
  {
    std::ofstream out(shares / "a" / "big.bin", std::ios::binary);
    std::string block(1 << 20, '\0');
    for (std::int64_t mib = 0; mib < (size >> 20); ++mib) {
      for (std::size_t i = 0; i < block.size(); ++i)
        block[i] = static_cast<char>((i * 7 + static_cast<std::size_t>(mib) * 13) % 253);
      out.write(block.data(), static_cast<std::streamsize>(block.size()));
    }
  }
  testing::WriteFileBytes(shares / "own" / "own.txt", "something to share");
  const std::string hash = Md5Hex(testing::ReadFileBytes(shares / "a" / "big.bin"));
  const LocalGateway gateway("127.0.2.2");
  RunningNode uploader("127.0.2.2", gateway.Serve() + QStringList{"--share", Path(shares / "a"),
                                                                  "--upload-limit", "4000"});
  ASSERT_TRUE(uploader.WaitUntilUp()) << uploader.ErrorOutput();
  ASSERT_TRUE(WaitFor([&] { return Scanned(uploader, 1); }, 30000));

  TempDir home;
  const QStringList node_args = QStringList{"--bind",    "127.0.2.3", "--nickname",
                                            "restarter", "--share",   Path(shares / "own")} +
                                gateway.Use();
  const QString link =
      QString::fromStdString("zx://get|big.bin|" + std::to_string(size) + "|" + hash + "|");
  const auto temporary = home.path() / "Downloads" / "big.binTMP";
  const auto finished = home.path() / "Downloads" / "big.bin";
  const auto saved = home.path() / "UnfinishedDownloads.txt";
  std::error_code ec;
  std::uintmax_t held = 0;
  {
    QProcess first;
    Start(first, home.path(), node_args + QStringList{"--get", link});
    ASSERT_TRUE(WaitFor(
        [&] {
          return std::filesystem::exists(temporary, ec) &&
                 std::filesystem::file_size(temporary, ec) >= static_cast<std::uintmax_t>(size) / 3;
        },
        90000));
    ::kill(static_cast<pid_t>(first.processId()), SIGKILL);
    first.waitForFinished(5000);
    held = std::filesystem::file_size(temporary, ec);
    ASSERT_LT(held, static_cast<std::uintmax_t>(size)) << "finished before it was stopped";
  }
  EXPECT_NE(testing::ReadFileBytes(saved).find("|" + std::to_string(size) + "|"),
            std::string::npos);

  QProcess second;
  Start(second, home.path(), node_args, Path(home / "stderr.log"));
  // The restored row is there from the start; the upload that serves it begins where the
  // temporary file ended.
  int first_percent = -1;
  bool restored_row = false;
  const bool done = WaitFor(
      [&] {
        const QJsonArray downloads = StatusOf(home.path())["downloads"].toArray();
        if (!downloads.isEmpty() && downloads[0].toObject()["restored"].toBool()) {
          restored_row = true;
        }
        const QJsonArray uploads = uploader.Status()["uploads"].toArray();
        if (first_percent < 0 && uploads.size() >= 2) {
          const QString percent = uploads.last().toObject()["percent"].toString();
          if (percent != "0%") first_percent = percent.chopped(1).toInt();
        }
        return std::filesystem::exists(finished, ec) &&
               std::filesystem::file_size(finished, ec) == static_cast<std::uintmax_t>(size);
      },
      120000);
  ASSERT_TRUE(done) << testing::ReadFileBytes(home.path() / "stderr.log");
  EXPECT_TRUE(restored_row);
  EXPECT_EQ(Md5Hex(testing::ReadFileBytes(finished)), hash);
  EXPECT_FALSE(std::filesystem::exists(temporary));
  EXPECT_GE(first_percent, static_cast<int>(held * 100 / static_cast<std::uintmax_t>(size)) - 1);
  second.terminate();
  second.waitForFinished(10000);
  EXPECT_FALSE(std::filesystem::exists(saved));
}

// A stranger's datagram with the most negative hop count once killed every node with a
// neighbour; the node must still answer afterwards.
TEST(LoopbackTest, AHostileWalkRequestLeavesTheNodeAnswering) {
  if (!CanBindPort620("127.0.0.7") || !CanBindPort620("127.0.0.61")) {
    GTEST_SKIP() << "no right to bind port 620";
  }
  RunningNode a("127.0.0.7", {"--gateway", "Nowhere=127.0.0.7:9/gateway.php"});
  ASSERT_TRUE(a.WaitUntilUp()) << a.ErrorOutput();

  const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  ASSERT_GE(fd, 0);
  const sockaddr_in self = Port620("127.0.0.61");
  ASSERT_EQ(::bind(fd, reinterpret_cast<const sockaddr*>(&self), sizeof self), 0);
  timeval wait{0, 200'000};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
  const sockaddr_in node = Port620("127.0.0.7");
  Rc4 cipher;
  auto send = [&](const std::string& text) {
    const std::string bytes = cipher.RC4String(text, kMessageKey);
    ::sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&node),
             sizeof node);
  };
  // Every message that comes back within the time, deciphered.
  auto replies = [&](int timeout_ms) {
    std::vector<std::string> out;
    QElapsedTimer clock;
    clock.start();
    char buffer[2048];
    while (clock.elapsed() < timeout_ms) {
      const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
      if (n > 0) out.push_back(cipher.RC4String(std::string(buffer, n), kMessageKey));
    }
    return out;
  };

  send("ConnectEst:Stranger|3|1|0 Bytes|1.2.1|1");
  ASSERT_TRUE(WaitFor([&] { return a.HasNeighbour("127.0.0.61"); }, 5000)) << a.ErrorOutput();
  replies(500);
  send("ConnectRqr:127.0.0.61|-2147483648");
  send("ConnectRqr:|-2147483648");
  send("Ping-");
  const auto answers = replies(2000);
  ::close(fd);
  EXPECT_EQ(answers, std::vector<std::string>{"Pong-"});
  EXPECT_EQ(a.process().state(), QProcess::Running) << a.ErrorOutput();
  a.Terminate();
  EXPECT_EQ(a.process().exitStatus(), QProcess::NormalExit);
}

}  // namespace
}  // namespace zorvex

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
