#include <gtest/gtest.h>

#include <vector>

#include "platform/sim/sim_world.h"
#include "share/file_hash.h"
#include "support/temp_dir.h"

namespace zorvex {
namespace {

using testing::TempDir;

struct Outcome {
  std::vector<std::pair<std::int64_t, std::int64_t>> progress;
  std::vector<std::int64_t> progress_times;
  std::optional<std::string> hash;
  std::int64_t done_at = -1;
};

TEST(SimHashingTest, OneBlockPerStepInVirtualTimeAndFailuresGiveAnEmptyHash) {
  TempDir dir;
  const std::string bytes(262'144 * 3 + 5, 'z');
  testing::WriteFileBytes(dir / "song.mp3", bytes);
  SimWorld world(1);
  auto host = world.CreateHost("10.0.0.1");
  Outcome out;
  auto request = host->Hashing().HashFile((dir / "song.mp3").string(), 262'144,
                                          [&](std::int64_t done, std::int64_t size) {
                                            out.progress.emplace_back(done, size);
                                            out.progress_times.push_back(world.NowMs());
                                          },
                                          [&](std::string hash) {
                                            out.hash = hash;
                                            out.done_at = world.NowMs();
                                          });
  world.RunFor(1000);
  ASSERT_TRUE(out.hash);
  EXPECT_EQ(*out.hash, HashFileNow(dir / "song.mp3"));
  const std::int64_t size = static_cast<std::int64_t>(bytes.size());
  EXPECT_EQ(out.progress, (std::vector<std::pair<std::int64_t, std::int64_t>>{
                              {262'144, size}, {524'288, size}, {786'432, size}, {size, size}}));
  EXPECT_EQ(out.progress_times, (std::vector<std::int64_t>{2, 4, 6, 8}));
  EXPECT_EQ(out.done_at, 8);

  // Missing files and folders give an empty hash; cancelled work stays silent.
  std::optional<std::string> missing;
  auto first = host->Hashing().HashFile((dir / "absent").string(), 262'144, {},
                                        [&](std::string hash) { missing = hash; });
  std::optional<std::string> folder;
  auto second = host->Hashing().HashFile(dir.path().string(), 262'144, {},
                                         [&](std::string hash) { folder = hash; });
  testing::WriteFileBytes(dir / "big.bin", std::string(1'000'000, 'b'));
  int calls = 0;
  auto third = host->Hashing().HashFile((dir / "big.bin").string(), 30'000,
                                        [&](std::int64_t, std::int64_t) { ++calls; },
                                        [&](std::string) { ++calls; });
  world.RunFor(5);
  third.reset();
  const int before = calls;
  world.RunFor(1000);
  EXPECT_EQ(missing, "");
  EXPECT_EQ(folder, "");
  EXPECT_GT(before, 0);
  EXPECT_EQ(calls, before);
}

}  // namespace
}  // namespace zorvex
