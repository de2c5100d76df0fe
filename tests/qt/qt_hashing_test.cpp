#include "platform/qt/qt_hashing.h"

#include <gtest/gtest.h>

#include <optional>
#include <thread>

#include "qt/qt_test_support.h"
#include "share/file_hash.h"
#include "support/temp_dir.h"

namespace zorvex {
namespace {

using testing::SpinFor;
using testing::SpinUntil;
using testing::TempDir;

TEST(QtHashingTest, HashesOnAWorkerReportsOnTheLoopAndCancelledRequestsNeverCallBack) {
  TempDir dir;
  testing::WriteFileBytes(dir / "movie.avi", std::string(1'000'003, 'q'));
  QtHashingService service;
  const auto loop_thread = std::this_thread::get_id();
  std::vector<std::int64_t> done_steps;
  bool on_loop = true;
  std::optional<std::string> hash;
  auto request = service.HashFile((dir / "movie.avi").string(), 100'000,
                                  [&](std::int64_t done, std::int64_t size) {
                                    on_loop = on_loop && std::this_thread::get_id() == loop_thread;
                                    EXPECT_EQ(size, 1'000'003);
                                    done_steps.push_back(done);
                                  },
                                  [&](std::string result) {
                                    on_loop = on_loop && std::this_thread::get_id() == loop_thread;
                                    hash = result;
                                  });
  ASSERT_TRUE(SpinUntil([&] { return hash.has_value(); }));
  EXPECT_EQ(*hash, HashFileNow(dir / "movie.avi"));
  EXPECT_TRUE(on_loop);
  ASSERT_EQ(done_steps.size(), 11u);
  EXPECT_EQ(done_steps.front(), 100'000);
  EXPECT_EQ(done_steps.back(), 1'000'003);

  // A missing file gives an empty hash.
  std::optional<std::string> missing;
  auto first = service.HashFile((dir / "absent").string(), 262'144, {},
                                [&](std::string hash) { missing = hash; });
  ASSERT_TRUE(SpinUntil([&] { return missing.has_value(); }));
  EXPECT_EQ(*missing, "");

  testing::WriteFileBytes(dir / "big.bin", std::string(20'000'000, 'b'));
  int calls = 0;
  auto second =
      service.HashFile((dir / "big.bin").string(), 30'000,
                       [&](std::int64_t, std::int64_t) { ++calls; }, [&](std::string) { ++calls; });
  second.reset();
  SpinFor(std::chrono::milliseconds(300));
  EXPECT_EQ(calls, 0);
}

}  // namespace
}  // namespace zorvex
