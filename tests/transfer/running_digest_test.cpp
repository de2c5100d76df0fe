#include "transfer/running_digest.h"

#include <gtest/gtest.h>

#include <string>

#include "share/md5.h"
#include "transfer/transfer_harness.h"

namespace zorvex {
namespace {

using testing::Bytes;
using testing::TempDir;
using testing::WriteFileBytes;

// The digest by the file hasher, a separate reading of the same bytes.
class RunningDigestTest : public ::testing::Test {
 protected:
  std::string HashOf(const std::string& bytes) {
    return testing::HashOfBytes(dir / "h.bin", bytes);
  }
  TempDir dir;
};

TEST(Md5Test, KnownDigestsAndCopiesGoOnApart) {
  Md5 md5;
  EXPECT_EQ(md5.Hex(), "D41D8CD98F00B204E9800998ECF8427E");
  md5.Update("a");
  Md5 copy = md5;
  md5.Update("bc");
  EXPECT_EQ(md5.Hex(), "900150983CD24FB0D6963F7D28E17F72");
  EXPECT_EQ(md5.Hex(), "900150983CD24FB0D6963F7D28E17F72");  // reading does not finish it
  EXPECT_EQ(copy.Hex(), "0CC175B9C0F1B6A831C399E269772661");
  EXPECT_EQ(copy.length(), 1);
  EXPECT_EQ(md5.length(), 3);
  Md5 moved = std::move(md5);
  EXPECT_EQ(moved.Hex(), "900150983CD24FB0D6963F7D28E17F72");
}

TEST_F(RunningDigestTest, AnySplitOfTheBytesGivesTheFilesDigest) {
  const std::string file = Bytes(70000, 3);
  const std::string expected = HashOf(file);
  for (std::size_t chunk : {1u, 63u, 4095u, 4096u, 4097u, 8192u, 12289u, 65536u, 70000u}) {
    RunningDigest digest;
    for (std::size_t at = 0; at < file.size(); at += chunk)
      digest.Update(std::string_view(file).substr(at, chunk));
    EXPECT_EQ(digest.position(), 70000);
    EXPECT_EQ(digest.Hex(), expected) << chunk;
  }
}

// A download that writes again from an earlier offset, with the bytes the new source sends
// (the same or others): the digest after re-reading the file up to the offset and taking the
// new bytes is that of the file as it ends up.
TEST_F(RunningDigestTest, GoingBackKeepsOnlyWhatStaysInTheFile) {
  struct Case {
    std::size_t written;
    std::size_t chunk;
    std::int64_t offset;
    std::int64_t lowest_restart;  // the restart may not fall further back than this
    bool same_bytes;
  };
  const Case cases[] = {
      {20000, 1000, 15904, 15904 - 8192, true},
      {20000, 1000, 15904, 15904 - 8192, false},
      {20000, 20000, 15904, 15904 - 8192, false},
      {8192, 4096, 4096, 4096, false},
      {5000, 700, 0, 0, false},
      {4096, 4096, 0, 0, true},
      {300000, 65536, 295904, 295904 - 8192, false},
      {9000, 9000, 9000, 9000, true},
  };
  for (const Case& c : cases) {
    const std::string first = Bytes(c.written, 1);
    RunningDigest digest;
    for (std::size_t at = 0; at < first.size(); at += c.chunk)
      digest.Update(std::string_view(first).substr(at, c.chunk));
    digest.RewindTo(c.offset);
    EXPECT_LE(digest.position(), c.offset) << c.written << " " << c.offset;
    EXPECT_GE(digest.position(), c.lowest_restart) << c.written << " " << c.offset;
    // The file: what stays below the offset, then the new source's bytes.
    std::string file = first.substr(0, static_cast<std::size_t>(c.offset));
    file += c.same_bytes ? first.substr(static_cast<std::size_t>(c.offset)) : Bytes(30000, 9);
    digest.Update(std::string_view(file).substr(static_cast<std::size_t>(digest.position())));
    EXPECT_EQ(digest.Hex(), HashOf(file)) << c.written << " " << c.offset << " " << c.same_bytes;
  }
  // Going back twice falls back further but stays right.
  const std::string file = Bytes(50000, 4);
  RunningDigest digest;
  digest.Update(std::string_view(file).substr(0, 30000));
  digest.RewindTo(25904);
  digest.Update(std::string_view(file).substr(digest.position(), 25904 - digest.position()));
  digest.RewindTo(21808);
  digest.RewindTo(100);
  EXPECT_EQ(digest.position(), 0);
  digest.Update(file);
  EXPECT_EQ(digest.Hex(), HashOf(file));
}

TEST_F(RunningDigestTest, CatchUpReadsTheFileFromThePositionToTheEndOrFails) {
  const std::string file = Bytes(600000, 5);
  WriteFileBytes(dir / "f.binTMP", file);
  RunningDigest start;
  start.Update(std::string_view(file).substr(0, 1000));
  FileCatchUp job(start, 550000);
  ASSERT_TRUE(job.Open((dir / "f.binTMP").string()));
  int steps = 1;
  while (job.Next() == FileCatchUp::Step::kMore)
    ++steps;
  EXPECT_EQ(steps, 3);  // 256 KiB blocks
  EXPECT_FALSE(job.failed());
  EXPECT_EQ(job.digest().position(), 550000);
  EXPECT_EQ(job.digest().Hex(), HashOf(file.substr(0, 550000)));
  EXPECT_EQ(job.Next(), FileCatchUp::Step::kDone);
  // A missing or short file fails.
  FileCatchUp missing(RunningDigest(), 10);
  EXPECT_FALSE(missing.Open((dir / "absent").string()));
  EXPECT_EQ(missing.Next(), FileCatchUp::Step::kFailed);
  WriteFileBytes(dir / "short", "12345");
  FileCatchUp short_file(RunningDigest(), 10);
  ASSERT_TRUE(short_file.Open((dir / "short").string()));
  EXPECT_EQ(short_file.Next(), FileCatchUp::Step::kFailed);
  EXPECT_TRUE(short_file.failed());
}

}  // namespace
}  // namespace zorvex
