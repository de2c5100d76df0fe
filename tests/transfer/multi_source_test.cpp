// Downloads that fetch ranges from several sources at once, driven byte by byte, and the plan
// that hands out the ranges.

#include "core/hex.h"
#include "transfer/range_plan.h"
#include "transfer/transfer_harness.h"

namespace zorvex {
namespace {

using testing::FakeStream;
using testing::ReadFileBytes;

constexpr const char* kPeers[] = {"10.0.0.9", "10.0.0.8", "10.0.0.7"};
constexpr std::int32_t kSize = 600000;

class MultiSourceTest : public testing::TransferTest {
 protected:
  MultiSourceTest() {
    h.node.preferences().SourcesAtOnce = 3;
    h.node.preferences().DLDir = h.home.path().string() + "/";
  }
  std::string Asked(int i) {
    return "SearchDownload:f.bin|5503|Alice|" + hash + " -> " + kPeers[i];
  }
  void AllAsked(Transfers& transfers) {
    ASSERT_TRUE(transfers.StartDownload("f.bin", kSize, hash, ""));
    for (const char* peer : kPeers)
      transfers.HandleSourceFound(peer, "f.bin|" + hash + "|1|1");
    Tick(20);
    EXPECT_EQ(Sent().back(), Asked(2));
  }
  FakeStream* Connected(int i, std::int32_t size = kSize) {
    return TransferTest::Connected(std::to_string(size) + "|f.bin|0", kPeers[i]);
  }

  std::string file = testing::Bytes(kSize, 5);
  std::string hash = HashOf(file);
};

// The second source takes the back half, a third announcing another size is given up; the first
// stops at the cut with "Close" and is asked again; the row adds both connections' rates.
TEST_F(MultiSourceTest, SourcesSplitTheFileAndMeetAtTheCut) {
  AllAsked(t);
  EXPECT_EQ(h.runtime.listeners.back()->Offer("10.0.0.77"), nullptr);  // never asked
  FakeStream* a = Connected(0);
  FakeStream* b = Connected(1);
  FakeStream* c = Connected(2, kSize + 1);
  ASSERT_TRUE(a && b && c);
  EXPECT_EQ(h.runtime.listeners.back()->Offer(kPeers[1]), nullptr);  // one connection each
  EXPECT_EQ(a->TakeSent(), "Start:f.bin|0");
  EXPECT_EQ(b->TakeSent(), "Start:f.bin|300000");
  EXPECT_EQ(c->TakeSent(), "Close");
  EXPECT_EQ(t.Sources(0)[2].use, "-1");
  a->Feed(file.substr(0, 100000));
  b->Feed(file.substr(300000, 50000));
  Tick();
  EXPECT_EQ(t.download_rows()[0].rate, "146.48 kbs");
  EXPECT_EQ(t.download_rows()[0].percent, "25%");
  EXPECT_EQ(t.download_rows()[0].size, "146.48 Kb/585.94 Kb");
  a->Feed(file.substr(100000, 200000) + std::string(5000, 'x'));  // past the cut: dropped
  EXPECT_EQ(a->TakeSent(), "Close");
  EXPECT_TRUE(a->closed_by_node);
  EXPECT_EQ(Sent(), std::vector<std::string>{Asked(0)});
  b->Feed(file.substr(350000));
  h.runtime.RunPosted();
  EXPECT_EQ(t.download_rows()[0].status, "Finished");
  EXPECT_EQ(ReadFileBytes(h.home / "f.bin"), file);
  EXPECT_EQ(h.runtime.listeners.back()->Offer(kPeers[0]), nullptr);  // asked again too late
}

// Beyond its whole start a ranged temporary file may hold gaps: the list keeps that length, and
// after a restart the file is cut there and resumed with the usual 4096 bytes again.
TEST_F(MultiSourceTest, ARestartResumesFromTheWholeStart) {
  const auto saved = h.home / "saved.txt";
  {
    const auto first = NewTransfers();
    first->SetSavedDownloadsFile(saved);
    AllAsked(*first);
    Connected(0)->Feed(file.substr(0, 100000));
    Connected(1)->Feed(file.substr(300000, 50000));
    Tick();
    h.runtime.RunPosted();
    EXPECT_EQ(ReadFileBytes(saved), "Zorvex unfinished downloads 1\n662E62696E|600000|" +
                                        EnHex(hash) + "|10.0.0.9,10.0.0.8,10.0.0.7|100000\n");
  }
  const auto second = NewTransfers();
  second->SetSavedDownloadsFile(saved);
  second->RestoreDownloads();
  second->HandleSourceFound(kPeers[0], "f.bin|" + hash + "|1|1");
  Tick(20);
  FakeStream* a = Connected(0);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a->TakeSent(), "Start:f.bin|95904");
  EXPECT_EQ(std::filesystem::file_size(h.home / "f.binTMP"), 100000u);
  a->Feed(file.substr(95904));
  h.runtime.RunPosted();
  EXPECT_EQ(second->download_rows()[0].status, "Finished");
  EXPECT_EQ(ReadFileBytes(h.home / "f.bin"), file);
}

using Piece = RangePlan::Piece;

// Joiners take the free rest, then the back half of the largest rest; an owner stops at a cut
// that another owns and goes on into a free piece; a release keeps what was filled.
TEST(RangePlanTest, PiecesAreHandedOutSplitFilledAndReleased) {
  RangePlan plan(1'000'000, 100'000);
  EXPECT_EQ(plan.Openings(), 6u);
  EXPECT_EQ(plan.Assign(1), 100'000);
  EXPECT_EQ(plan.Assign(2), 550'000);
  EXPECT_EQ(plan.Assign(3), 325'000);
  EXPECT_EQ(plan.Assign(3), std::nullopt);  // holds a piece already
  EXPECT_FALSE(plan.Filled(1, 300'000));    // clamped at the cut, which 3 owns
  plan.Release(3);
  EXPECT_EQ(plan.Assign(1), 325'000);  // the released piece first
  EXPECT_TRUE(plan.Filled(1, 1'000));
  plan.Release(1);
  EXPECT_EQ(plan.pieces(), (std::vector<Piece>{{0, 326'000, 326'000, std::nullopt},
                                               {326'000, 550'000, 326'000, std::nullopt},
                                               {550'000, 1'000'000, 550'000, 2}}));
  EXPECT_EQ(plan.Prefix(), 326'000);
  EXPECT_TRUE(plan.Filled(2, 449'999));
  EXPECT_EQ(plan.Held(), 775'999);
  EXPECT_EQ(plan.Assign(4), 326'000);
  EXPECT_EQ(plan.Assign(5), 438'000);
  EXPECT_EQ(plan.Assign(6), std::nullopt);  // 112,000 and 1 left: too short to split
  EXPECT_FALSE(plan.Filled(4, 112'000));
  EXPECT_FALSE(plan.Filled(5, 112'000));
  EXPECT_FALSE(plan.Filled(2, 1));
  EXPECT_TRUE(plan.Complete());
  EXPECT_EQ(plan.pieces(), (std::vector<Piece>{{0, 1'000'000, 1'000'000, std::nullopt}}));

  RangePlan chain(300'000, 0);
  chain.Assign(1);
  chain.Assign(2);
  chain.Release(2);
  EXPECT_TRUE(chain.Filled(1, 150'000));
  EXPECT_EQ(chain.SlotOf(1)->at, 150'000);
  EXPECT_EQ(chain.SlotOf(1)->room, 150'000);
  // Hostile sizes are made sane.
  EXPECT_TRUE(RangePlan(-5, 10).Complete());
  EXPECT_EQ(RangePlan(100, 500).Held(), 100);
}

}  // namespace
}  // namespace zorvex
