#include "platform/qt/single_instance.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <future>
#include <string>
#include <vector>

#include <QDir>
#include <QElapsedTimer>
#include <QLocalSocket>

#include "qt/qt_test_support.h"
#include "support/temp_dir.h"

namespace zorvex {
namespace {

using namespace std::chrono_literals;
using testing::SpinUntil;
using testing::TempDir;

// Runs a blocking client call on another thread while this thread's loop serves it.
template <typename Call>
auto Serve(Call call) {
  auto future = std::async(std::launch::async, std::move(call));
  SpinUntil([&] { return future.wait_for(0s) == std::future_status::ready; }, 10s);
  return future.get();
}

// A socket name left behind as by a copy that crashed: bound, never listened, never removed.
void LeaveStaleSocket(const QString& name) {
  const std::string path = (QDir::tempPath() + "/" + name).toStdString();
  const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(fd, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  ASSERT_LT(path.size(), sizeof address.sun_path);
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  ::unlink(path.c_str());
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ::close(fd);
  ASSERT_TRUE(std::filesystem::exists(path));
}

class SingleInstanceTest : public ::testing::Test {
 protected:
  TempDir home;
  std::vector<std::string> commands;
  std::string status = "{\"nickname\": \"Alice\"}";
  SingleInstanceServer server{[this](std::string command) { commands.push_back(command); },
                              [this] { return status; }};
};

TEST(InstanceNameTest, OneNamePerUserAndFolder) {
  TempDir dir;
  std::filesystem::create_directories(dir / "a");
  std::filesystem::create_directories(dir / "b");
  const QString name = InstanceServerName(dir / "a");
  EXPECT_TRUE(name.startsWith(QStringLiteral("zorvex-%1-").arg(::getuid())));
  EXPECT_EQ(InstanceServerName((dir / "a").string() + "/"), name);
  EXPECT_EQ(InstanceServerName(dir / "b" / ".." / "a"), name);
  EXPECT_NE(InstanceServerName(dir / "b"), name);
}

TEST_F(SingleInstanceTest, SecondCopyOfTheSameFolderSeesTheFirstAndTheNameGoesWithTheServer) {
  {
    SingleInstanceServer first({}, {});
    ASSERT_EQ(first.Listen(home.path()), InstanceClaim::kClaimed);
  }
  ASSERT_EQ(server.Listen(home.path()), InstanceClaim::kClaimed);
  SingleInstanceServer second({}, {});
  EXPECT_EQ(second.Listen(home.path()), InstanceClaim::kOtherCopy);
  TempDir other_home;
  EXPECT_EQ(second.Listen(other_home.path()), InstanceClaim::kClaimed);
}

TEST_F(SingleInstanceTest, CommandsAndStatusRequestsAreServedAndGarbageIsDropped) {
  ASSERT_EQ(server.Listen(home.path()), InstanceClaim::kClaimed);
  std::string long_command = "zx://search|";
  while (long_command.size() < 1000)
    long_command += "free%20music\xe9|";
  const auto path = home.path();
  EXPECT_TRUE(Serve([&] { return ForwardCommand(path, "zx://connect|1.2.3.4"); }));
  EXPECT_TRUE(Serve([&] { return ForwardCommand(path, long_command); }));
  ASSERT_TRUE(SpinUntil([&] { return commands.size() == 2; }));
  EXPECT_EQ(commands[0], "zx://connect|1.2.3.4");
  EXPECT_EQ(commands[1], long_command);

  // A status request gets the provider's text and is no command.
  EXPECT_EQ(Serve([&] { return RequestStatus(path); }), status);
  status.assign(200000, 'x');
  EXPECT_EQ(Serve([&] { return RequestStatus(path); }), status);
  EXPECT_EQ(commands.size(), 2u);

  // Garbage is dropped and the server goes on.
  QLocalSocket garbage;
  garbage.connectToServer(InstanceServerName(home.path()));
  ASSERT_TRUE(garbage.waitForConnected(1000));
  garbage.write("Xjunk-junk-junk");
  garbage.flush();
  EXPECT_TRUE(SpinUntil([&] { return garbage.state() == QLocalSocket::UnconnectedState; }, 5s));
  EXPECT_TRUE(Serve([&] { return ForwardCommand(path, "zx://connect|5.6.7.8"); }));
  ASSERT_TRUE(SpinUntil([&] { return commands.size() == 3; }));
  EXPECT_EQ(commands[2], "zx://connect|5.6.7.8");
}

TEST_F(SingleInstanceTest, WithoutARunningCopyClientsFailQuickly) {
  QElapsedTimer clock;
  clock.start();
  EXPECT_FALSE(ForwardCommand(home.path(), "zx://connect|1.2.3.4"));
  EXPECT_EQ(RequestStatus(home.path()), std::nullopt);
  EXPECT_LT(clock.elapsed(), 2000);
}

TEST_F(SingleInstanceTest, NameLeftByACrashedCopyIsTakenOver) {
  LeaveStaleSocket(InstanceServerName(home.path()));
  ASSERT_EQ(server.Listen(home.path()), InstanceClaim::kClaimed);
  const auto path = home.path();
  EXPECT_TRUE(Serve([&] { return ForwardCommand(path, "zx://hello|x"); }));
  ASSERT_TRUE(SpinUntil([&] { return commands.size() == 1; }));
}

}  // namespace
}  // namespace zorvex
