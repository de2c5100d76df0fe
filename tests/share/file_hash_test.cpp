#include "share/file_hash.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include <openssl/evp.h>

#include "support/temp_dir.h"

namespace zorvex {
namespace {

using testing::TempDir;
using testing::WriteFileBytes;

constexpr std::int32_t kBlockSizes[] = {262'144, 100'000, 80'000, 30'000};

std::string RandomBytes(std::size_t count, unsigned seed) {
  std::mt19937 random(seed);
  std::string bytes(count, '\0');
  for (char& c : bytes)
    c = static_cast<char>(random());
  return bytes;
}

std::string Md5Of(std::string_view bytes) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_md5(), nullptr);
  std::string text;
  for (unsigned int i = 0; i < length; ++i) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    text += kHex[digest[i] >> 4];
    text += kHex[digest[i] & 15];
  }
  return text;
}

TEST(HashBlockSizeTest, ListIndexTable) {
  EXPECT_EQ(HashBlockSize(std::nullopt), 262'144);
  const std::pair<int, std::int32_t> cases[] = {{0, 262'144}, {1, 100'000}, {2, 80'000},
                                                {3, 30'000},  {4, 262'144}, {-1, 262'144}};
  for (const auto& [index, size] : cases)
    EXPECT_EQ(HashBlockSize(index), size) << index;
}

TEST(HashProgressLineTest, PercentRoundsToNearestWithHalvesToEven) {
  EXPECT_EQ(HashProgressLine(3, "song.mp3", 0, 1000), "File Scanner (3): Hashing song.mp3 [0%]");
  EXPECT_EQ(HashProgressLine(0, "a b.txt", 1000, 1000), "File Scanner (0): Hashing a b.txt [100%]");
  EXPECT_EQ(HashProgressLine(1, "f", 2'147'483'647, 2'147'483'647),
            "File Scanner (1): Hashing f [100%]");
  const struct {
    std::int64_t done, size, percent;
  } cases[] = {
      {5, 1000, 0},     {6, 1000, 1},    {15, 1000, 2}, {25, 1000, 2},
      {995, 1000, 100}, {985, 1000, 98}, {1, 3, 33},    {2, 3, 67},
      {1, 2, 50},       {1, 200, 0},     {3, 200, 2},   {262'144, 524'289, 50},
      {0, 0, 100},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(HashProgressLine(12, "f", c.done, c.size),
              "File Scanner (12): Hashing f [" + std::to_string(c.percent) + "%]")
        << c.done << "/" << c.size;
  }
}

TEST(HashFileTest, KnownDigestsAndTheSameForEveryBlockSize) {
  TempDir dir;
  WriteFileBytes(dir / "empty", "");
  WriteFileBytes(dir / "abc", "abc");
  WriteFileBytes(dir / "fox", "The quick brown fox jumps over the lazy dog");
  for (const std::int32_t block : kBlockSizes) {
    EXPECT_EQ(HashFileNow(dir / "empty", block), "D41D8CD98F00B204E9800998ECF8427E");
    EXPECT_EQ(HashFileNow(dir / "abc", block), "900150983CD24FB0D6963F7D28E17F72");
    EXPECT_EQ(HashFileNow(dir / "fox", block), "9E107D9D372BB6826BD81D3542A419D6");
  }
  // The same digest for every block size, around each boundary.
  const std::string bytes = RandomBytes(3 * 262'144 + 2, 11);
  for (const std::int32_t boundary : kBlockSizes) {
    for (const std::int64_t size :
         {boundary - 1, boundary, boundary + 1, 2 * boundary, 2 * boundary + 1, 3 * boundary - 1}) {
      const std::string_view content = std::string_view(bytes).substr(0, size);
      WriteFileBytes(dir / "f", content);
      const std::string expected = Md5Of(content);
      for (const std::int32_t block : kBlockSizes)
        EXPECT_EQ(HashFileNow(dir / "f", block), expected) << size << " in blocks of " << block;
    }
  }
}

// Steps until done, returning bytes_done after each step.
std::vector<std::int64_t> StepAll(FileHasher& hasher) {
  std::vector<std::int64_t> seen;
  HashStep step = HashStep::kMore;
  while (step == HashStep::kMore) {
    step = hasher.Step();
    EXPECT_NE(step, HashStep::kFailed);
    seen.push_back(hasher.bytes_done());
  }
  return seen;
}

TEST(FileHasherTest, ReadsFullBlocksThenTheTail) {
  TempDir dir;
  const auto path = dir / "Track 1.mp3";
  const std::string bytes = RandomBytes(2 * 30'000 + 7, 3);
  const struct {
    std::int64_t size;
    std::vector<std::int64_t> steps;
  } cases[] = {
      {30'000, {30'000}},
      {30'001, {30'000, 30'001}},
      {29'999, {29'999}},
      {60'000, {30'000, 60'000}},
      {60'007, {30'000, 60'000, 60'007}},
      {1, {1}},
      {0, {0}},
  };
  for (const auto& c : cases) {
    WriteFileBytes(path, std::string_view(bytes).substr(0, c.size));
    FileHasher hasher(30'000);
    ASSERT_TRUE(hasher.Open(path)) << c.size;
    EXPECT_EQ(hasher.name(), "Track 1.mp3");
    EXPECT_EQ(hasher.size(), c.size);
    EXPECT_EQ(hasher.bytes_done(), 0);
    EXPECT_EQ(StepAll(hasher), c.steps) << c.size;
    EXPECT_TRUE(hasher.finished());
    EXPECT_EQ(HashProgressLine(1, hasher.name(), hasher.bytes_done(), hasher.size()),
              "File Scanner (1): Hashing Track 1.mp3 [100%]");
    EXPECT_EQ(hasher.Step(), HashStep::kDone);
    EXPECT_EQ(hasher.Finish(), Md5Of(std::string_view(bytes).substr(0, c.size)));
    EXPECT_EQ(hasher.Finish(), Md5Of(std::string_view(bytes).substr(0, c.size)));
  }
}

TEST(FileHasherTest, MissingFilesDirectoriesPipesAndFilesOf2GiBFail) {
  TempDir dir;
  std::filesystem::create_directory(dir / "folder");
  ASSERT_EQ(::mkfifo((dir / "pipe").c_str(), 0600), 0);
  for (const char* name : {"missing", "folder", "pipe"}) {
    FileHasher hasher;
    EXPECT_FALSE(hasher.Open(dir / name)) << name;
    EXPECT_TRUE(hasher.failed());
    EXPECT_EQ(hasher.Step(), HashStep::kFailed);
    EXPECT_EQ(hasher.Finish(), "");
    EXPECT_EQ(HashFileNow(dir / name), "") << name;
  }
  // Files of 2 GiB or more are not hashed.
  const auto path = dir / "big";
  { std::ofstream create(path); }
  std::filesystem::resize_file(path, std::int64_t{1} << 31);  // sparse
  FileHasher too_big;
  EXPECT_FALSE(too_big.Open(path));
  EXPECT_EQ(HashFileNow(path), "");

  std::filesystem::resize_file(path, (std::int64_t{1} << 31) - 1);
  FileHasher largest;
  ASSERT_TRUE(largest.Open(path));
  EXPECT_EQ(largest.size(), 2'147'483'647);
}

TEST(FileHasherTest, FileThatShrinksOrGrowsWhileReadFails) {
  TempDir dir;
  const auto path = dir / "f";
  const std::string bytes = RandomBytes(3 * 30'000, 5);
  const struct {
    std::int64_t new_size;
    int steps_before;
  } cases[] = {
      {40'000, 1},  // shorter than the next block
      {60'000, 1},  // the last block is gone
      {89'999, 2},  // one byte short in the last block
      {10, 0},      // before the first step
      {90'001, 2},  // grew before the last block
  };
  for (const auto& c : cases) {
    WriteFileBytes(path, bytes);
    FileHasher hasher(30'000);
    ASSERT_TRUE(hasher.Open(path));
    for (int i = 0; i < c.steps_before; ++i)
      ASSERT_EQ(hasher.Step(), HashStep::kMore);
    std::filesystem::resize_file(path, c.new_size);
    HashStep step = HashStep::kMore;
    while (step == HashStep::kMore)
      step = hasher.Step();
    EXPECT_EQ(step, HashStep::kFailed) << c.new_size;
    EXPECT_TRUE(hasher.failed());
    EXPECT_EQ(hasher.Finish(), "") << c.new_size;
  }
}

TEST(FileHasherTest, FinishBeforeTheLastStepGivesNothingAndBlocksAreFixedPerFile) {
  TempDir dir;
  WriteFileBytes(dir / "f", RandomBytes(70'000, 9));
  FileHasher hasher(30'000);
  ASSERT_TRUE(hasher.Open(dir / "f"));
  ASSERT_EQ(hasher.Step(), HashStep::kMore);
  EXPECT_EQ(hasher.Finish(), "");
  EXPECT_EQ(hasher.Step(), HashStep::kFailed);
  EXPECT_FALSE(hasher.Open(dir / "f"));  // one file per hasher
  // The block size is fixed per file.
  WriteFileBytes(dir / "g", RandomBytes(250'000, 2));
  FileHasher listed(HashBlockSize(1));
  ASSERT_TRUE(listed.Open(dir / "g"));
  EXPECT_EQ(StepAll(listed), (std::vector<std::int64_t>{100'000, 200'000, 250'000}));
}

}  // namespace
}  // namespace zorvex
