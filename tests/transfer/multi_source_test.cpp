// A download that fetches ranges from two sources at once, driven byte by byte.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "core/hex.h"
#include "node/node_harness.h"
#include "share/file_hash.h"
#include "transfer/transfers.h"

namespace zorvex {
namespace {

using testing::FakeStream;
using testing::ReadFileBytes;
using testing::WriteFileBytes;

constexpr char kA[] = "10.0.0.9";
constexpr char kB[] = "10.0.0.8";
constexpr std::int32_t kSize = 600000;

class MultiSourceTest : public ::testing::Test {
 protected:
  MultiSourceTest() {
    Preferences& prefs = h.node.preferences();
    prefs.DownloadPort = 5503;
    prefs.SourcesAtOnce = 2;
    std::filesystem::create_directories(h.home / "dl");
    prefs.DLDir = (h.home / "dl").string() + "/";
    for (std::size_t i = 0; i < file.size(); ++i)
      file[i] = static_cast<char>((i * 131 + 5) % 251);
    WriteFileBytes(h.home / "hash.tmp", file);
    hash = HashFileNow(h.home / "hash.tmp");
    first_timer = h.runtime.timers.size();
  }

  void Tick(int n = 1) {
    for (int k = 0; k < n; ++k) {
      for (std::size_t i = first_timer; i < h.runtime.timers.size(); ++i)
        h.runtime.FireTimer(i);
    }
  }
  std::vector<std::string> Sent() { return testing::Messages(h.Flush()); }
  std::string Asked(const char* source) {
    return "SearchDownload:f.bin|5503|Alice|" + hash + " -> " + source;
  }
  // Both sources found and asked after the search pass.
  void BothAsked(Transfers& transfers) {
    ASSERT_TRUE(transfers.StartDownload("f.bin", kSize, hash, kA));
    for (const char* source : {kA, kB})
      transfers.HandleSourceFound(source, "f.bin|" + hash + "|1|1");
    Tick(20);
    EXPECT_EQ(Sent().back(), Asked(kB));
  }
  FakeStream* Connected(const char* source, std::int32_t size = kSize) {
    FakeStream* stream = h.runtime.listeners.back()->Offer(source);
    if (stream) stream->Feed(std::to_string(size) + "|f.bin|0");
    return stream;
  }

  testing::NodeHarness h;
  std::size_t first_timer = 0;
  std::string file = std::string(kSize, '\0');
  std::string hash;
  Transfers t{h.runtime, h.node.messages(), h.node.peers(), h.node.preferences(),
              h.node.shared_files()};
};

// The second source takes the back half; the first stops at the cut, says "Close" and is asked
// again for part of what is left; the digest follows the whole start.
TEST_F(MultiSourceTest, TwoSourcesSplitTheFileAndMeetAtTheCut) {
  BothAsked(t);
  EXPECT_EQ(h.runtime.listeners.back()->Offer("10.0.0.77"), nullptr);  // never asked
  FakeStream* a = Connected(kA);
  FakeStream* b = Connected(kB);
  ASSERT_TRUE(a && b);
  EXPECT_EQ(h.runtime.listeners.back()->Offer(kB), nullptr);  // one connection per source
  EXPECT_EQ(a->TakeSent(), "Start:f.bin|0");
  EXPECT_EQ(b->TakeSent(), "Start:f.bin|300000");
  EXPECT_EQ(t.Sources(0)[1].use, "1");
  a->Feed(file.substr(0, 100000));
  b->Feed(file.substr(300000, 50000));
  Tick();
  const TransferRow& row = t.download_rows()[0];
  EXPECT_EQ(row.rate, "146.48 kbs");  // both connections together
  EXPECT_EQ(row.percent, "25%");
  EXPECT_EQ(row.size, "146.48 Kb/585.94 Kb");
  // Bytes past the cut are the other source's: dropped, and the first source is done.
  a->Feed(file.substr(100000, 200000) + std::string(5000, 'x'));
  EXPECT_EQ(a->TakeSent(), "Close");
  EXPECT_TRUE(a->closed_by_node);
  EXPECT_EQ(t.Sources(0)[0].use, "2");
  EXPECT_EQ(Sent(), std::vector<std::string>{Asked(kA)});
  b->Feed(file.substr(350000));
  h.runtime.RunPosted();
  EXPECT_EQ(t.download_rows()[0].status, "Finished");
  EXPECT_EQ(ReadFileBytes(h.home / "dl" / "f.bin"), file);
  EXPECT_EQ(h.runtime.listeners.back()->Offer(kA), nullptr);  // asked again too late
}

// A source whose header names another size is given up; a broken one's range goes back to the
// pool and to the other source once that one's range is in.
TEST_F(MultiSourceTest, MisfitAndBrokenSourcesAreGivenUp) {
  struct Case {
    std::int32_t b_size;
    bool b_breaks;
    std::string b_sent;
  };
  for (const Case& c : {Case{kSize + 1, false, "Close"}, Case{kSize, true, "Start:f.bin|300000"}}) {
    BothAsked(t);
    const std::size_t row = t.download_rows().size() - 1;
    FakeStream* a = Connected(kA);
    FakeStream* b = Connected(kB, c.b_size);
    ASSERT_TRUE(a && b);
    EXPECT_EQ(b->TakeSent(), c.b_sent);
    if (c.b_breaks) {
      b->Feed(file.substr(300000, 1000));
      b->FailFromPeer();
    }
    EXPECT_TRUE(b->closed_by_node || c.b_breaks);
    EXPECT_EQ(t.Sources(row)[1].use, "-1");
    // A fills its half, hears "Close", is asked again and fetches what B left.
    a->Feed(file.substr(0, 300000));
    if (c.b_breaks) {
      EXPECT_EQ(a->TakeSent(), "Start:f.bin|0Close");
      EXPECT_EQ(Sent(), std::vector<std::string>{Asked(kA)});
      a = Connected(kA);
      ASSERT_NE(a, nullptr);
      EXPECT_EQ(a->TakeSent(), "Start:f.bin|301000");
      a->Feed(file.substr(301000));
    } else {
      a->Feed(file.substr(300000));
    }
    h.runtime.RunPosted();
    EXPECT_EQ(t.download_rows()[row].status, "Finished");
    EXPECT_EQ(ReadFileBytes(h.home / "dl" / "f.bin"), file);
    std::filesystem::remove(h.home / "dl" / "f.bin");
  }
}

// Beyond its whole start a ranged temporary file may hold gaps: the list keeps that length, and
// after a restart the file is cut there and resumed with the usual 4096 bytes again.
TEST_F(MultiSourceTest, ARestartResumesFromTheWholeStart) {
  const auto saved = h.home / "saved.txt";
  {
    Transfers first{h.runtime, h.node.messages(), h.node.peers(), h.node.preferences(),
                    h.node.shared_files()};
    first.SetSavedDownloadsFile(saved);
    BothAsked(first);
    FakeStream* a = Connected(kA);
    FakeStream* b = Connected(kB);
    a->Feed(file.substr(0, 100000));
    b->Feed(file.substr(300000, 50000));
    Tick();
    h.runtime.RunPosted();
    EXPECT_EQ(ReadFileBytes(saved), "Zorvex unfinished downloads 1\n662E62696E|600000|" +
                                        EnHex(hash) + "|10.0.0.9,10.0.0.8|100000\n");
  }
  EXPECT_EQ(std::filesystem::file_size(h.home / "dl" / "f.binTMP"), 350000u);
  Transfers second{h.runtime, h.node.messages(), h.node.peers(), h.node.preferences(),
                   h.node.shared_files()};
  second.SetSavedDownloadsFile(saved);
  second.RestoreDownloads();
  second.HandleSourceFound(kA, "f.bin|" + hash + "|1|1");
  Tick(20);
  EXPECT_EQ(Sent().back(), Asked(kA));
  FakeStream* a = Connected(kA);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a->TakeSent(), "Start:f.bin|95904");
  EXPECT_EQ(std::filesystem::file_size(h.home / "dl" / "f.binTMP"), 100000u);
  a->Feed(file.substr(95904));
  h.runtime.RunPosted();
  EXPECT_EQ(second.download_rows()[0].status, "Finished");
  EXPECT_EQ(ReadFileBytes(h.home / "dl" / "f.bin"), file);
}

}  // namespace
}  // namespace zorvex
