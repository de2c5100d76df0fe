#include <gtest/gtest.h>

#include <functional>
#include <random>

#include "network/peer_table.h"
#include "scenario/sim_network.h"
#include "share/file_hash.h"
#include "share/file_kind.h"
#include "share/shared_files.h"
#include "transfer/saved_downloads.h"
#include "transfer/transfers.h"

namespace zorvex {
namespace {

using testing::SimNetwork;

class TransferScenarioTest : public ::testing::Test {
 protected:
  void SetUp() override {
    net.Bootstrap(
        20, [](int i) { return i % 10; }, 5 * 60 * 1000);
    std::mt19937 random(7);
    bytes.resize(4 << 20);
    for (auto& c : bytes)
      c = static_cast<char>(random());
    testing::WriteFileBytes(files.path() / "song.mp3", bytes);
    hash = HashFileNow(files.path() / "song.mp3");
  }

  // The node shares the file from the common folder.
  void Share(std::size_t i) {
    SharedFile row;
    row.file_name = "song.mp3";
    row.base_name = "song";
    row.category = GetFileCategory(row.file_name);
    row.size = static_cast<std::int32_t>(bytes.size());
    row.hash = hash;
    row.folder = files.path().string() + "/";
    net[i].shared_files().rows.push_back(row);
    net[i].shared_files().sorted = true;
  }

  const TransferRow& Row() { return net[0].transfers().download_rows().back(); }
  std::filesystem::path Finished() { return net.nodes[0].home->path() / "song.mp3"; }
  std::filesystem::path Temporary() { return Finished().string() + "TMP"; }
  std::uintmax_t Held() {
    std::error_code ec;
    return std::filesystem::exists(Temporary(), ec) ? std::filesystem::file_size(Temporary(), ec)
                                                    : 0;
  }
  bool Download(const std::string& source) {
    return net[0].transfers().StartDownload("song.mp3", static_cast<std::int32_t>(bytes.size()),
                                            hash, source);
  }
  // Slow links to the downloader, so that faults come in the middle of a range.
  void SlowLinks() {
    for (std::size_t i = 1; i < net.nodes.size(); ++i)
      net.world.SetLink(net.Address(0), net.Address(i), {20, 0, 0, 512 * 1024});
  }
  // Runs until the download ends, calling `each` at every event; true when it finished whole.
  ::testing::AssertionResult RunToTheEnd(std::int64_t limit_ms,
                                         const std::function<void()>& each = {}) {
    const bool ended = net.world.RunUntil(
        [&] {
          if (each) each();
          return Row().tag == "Finished" || Row().tag == "Error";
        },
        limit_ms);
    if (!ended) return ::testing::AssertionFailure() << "still " << Row().status;
    if (Row().status != "Finished") return ::testing::AssertionFailure() << Row().status;
    if (testing::ReadFileBytes(Finished()) != bytes)
      return ::testing::AssertionFailure() << "other bytes";
    return ::testing::AssertionSuccess();
  }

  SimNetwork net{31};
  testing::TempDir files;
  std::string bytes;
  std::string hash;
};

TEST_F(TransferScenarioTest, AStalledSourceIsLeftAfter20TicksForOneThatSends) {
  for (std::size_t i : {5, 9, 14})
    Share(i);
  // Two of the three holders never connect: their upload slots are all taken.
  net[5].preferences().MaxULs = 0;
  net[9].preferences().MaxULs = 0;
  ASSERT_TRUE(Download(net.Address(5)));
  std::size_t given_up = 0;
  std::int64_t receiving_at = -1;
  const std::int64_t start = net.world.NowMs();
  EXPECT_TRUE(RunToTheEnd(10 * 60 * 1000, [&] {
    std::size_t minus = 0;
    for (const auto& source : net[0].transfers().Sources(0))
      minus += source.use == "-1";
    given_up = std::max(given_up, minus);
    if (receiving_at < 0 && Held() > 0) receiving_at = net.world.NowMs();
  }));
  // 20 ticks of collecting, then 20 ticks for every source that never connected.
  EXPECT_GE(given_up, 1u);
  EXPECT_GE(receiving_at - start, 20'000 * static_cast<std::int64_t>(1 + given_up));
  EXPECT_FALSE(std::filesystem::exists(Temporary()));
}

TEST_F(TransferScenarioTest, ASourceCutMidFileIsResumedFromAnother) {
  for (std::size_t i : {5, 14})
    Share(i);
  SlowLinks();
  ASSERT_TRUE(Download(""));
  ASSERT_TRUE(net.world.RunUntil([&] { return Held() >= bytes.size() / 2; }, 5 * 60 * 1000));
  std::string cut;
  for (const auto& source : net[0].transfers().Sources(0)) {
    if (source.use == "1") cut = source.address;
  }
  ASSERT_FALSE(cut.empty());
  const auto held = static_cast<std::uint64_t>(Held());
  EXPECT_GT(net.world.CutStreams(net.Address(0), cut), 0u);
  const std::uint64_t delivered_before = net.world.Stats().stream_bytes_delivered;
  EXPECT_TRUE(RunToTheEnd(10 * 60 * 1000));
  // Resumed where the temporary file ended, less the 4096 bytes fetched again: the bytes that
  // crossed any connection after the cut are the rest of the file and a few short messages.
  const std::uint64_t delivered = net.world.Stats().stream_bytes_delivered - delivered_before;
  EXPECT_LE(delivered, bytes.size() - held + 4096 + 256);
  EXPECT_LT(delivered, bytes.size() * 3 / 4);
}

// A limit on the uploader paces its sending; one on the downloader makes it read less. Either
// way the file moves at the limit, within 5%, and a limit of 0 leaves the pace as it was.
TEST_F(TransferScenarioTest, RateLimitsHoldWithinFivePercent) {
  Share(5);
  struct Case {
    std::int32_t upload_limit;
    std::int32_t download_limit;
  };
  for (const Case& c : {Case{256, 0}, Case{0, 128}, Case{512, 128}}) {
    net[5].preferences().UploadLimit = c.upload_limit;
    net[5].transfers().ApplyRateLimits();
    net[0].preferences().DownloadLimit = c.download_limit;
    net[0].transfers().ApplyRateLimits();
    std::filesystem::remove(Finished());
    ASSERT_TRUE(Download(net.Address(5)));
    std::int64_t first_byte = -1;
    ASSERT_TRUE(RunToTheEnd(10 * 60 * 1000, [&] {
      if (first_byte < 0 && Held() > 0) first_byte = net.world.NowMs();
    }));
    const std::int32_t limit = c.download_limit > 0 ? c.download_limit : c.upload_limit;
    const double expected_ms = static_cast<double>(bytes.size()) / (limit * 1024.0) * 1000;
    const double took_ms = static_cast<double>(net.world.NowMs() - first_byte);
    EXPECT_NEAR(took_ms / expected_ms, 1.0, 0.05) << c.upload_limit << " " << c.download_limit;
  }
}

TEST_F(TransferScenarioTest, ADownloadSurvivesARestartAndFetchesOnlyWhatItLacked) {
  for (std::size_t i : {5, 14})
    Share(i);
  SlowLinks();
  ASSERT_TRUE(Download(""));
  ASSERT_TRUE(net.world.RunUntil([&] { return Held() >= bytes.size() / 3; }, 5 * 60 * 1000));
  const auto held = static_cast<std::uint64_t>(Held());
  const std::uint64_t delivered_before = net.world.Stats().stream_bytes_delivered;

  Node& restarted = net.RestartNode(0);
  ASSERT_EQ(restarted.transfers().download_rows().size(), 1u);
  const TransferRow& row = restarted.transfers().download_rows()[0];
  EXPECT_EQ(row.file_name, "song.mp3");
  EXPECT_EQ(row.status, "Finding More Sources...");
  EXPECT_EQ(row.size, "0 Kb/4.1 Mb");
  EXPECT_TRUE(row.restored);
  EXPECT_TRUE(RunToTheEnd(10 * 60 * 1000));
  EXPECT_FALSE(std::filesystem::exists(Temporary()));
  // Only the rest of the file and the 4096 bytes before it crossed a connection again.
  const std::uint64_t delivered = net.world.Stats().stream_bytes_delivered - delivered_before;
  EXPECT_LE(delivered, bytes.size() - held + 4096 + 256);
  // Finished downloads are not kept.
  net.world.RunFor(1000);
  EXPECT_FALSE(std::filesystem::exists(net.nodes[0].home->path() / kSavedDownloadsFileName));
}

// Four holders behind 512 KiB/s each, fetched from at once; one of them breaks or stalls in the
// middle of its range, whose rest goes to the others. A lost source costs about its range's rest,
// a stalled one also the ten quiet ticks before it counts as stalled.
TEST_F(TransferScenarioTest, FourSourcesAtOnceAndALostOnesRangeGoesToTheOthers) {
  enum class Fault { kNone, kCut, kStall };
  struct Case {
    Fault fault;
    double share_of_one_link;
    std::int64_t extra_ms;
  };
  const std::size_t holders[] = {5, 9, 14, 17};
  for (const std::size_t i : holders)
    Share(i);
  net[0].preferences().SourcesAtOnce = 4;
  const auto sending = [&] {
    std::size_t n = 0;
    for (const auto& source :
         net[0].transfers().Sources(net[0].transfers().download_rows().size() - 1))
      n += source.use == "1";
    return n;
  };
  const std::int64_t one_link_ms = static_cast<std::int64_t>(bytes.size()) * 1000 / (512 * 1024);
  for (const Case& c :
       {Case{Fault::kNone, 0.35, 0}, Case{Fault::kCut, 0.5, 0}, Case{Fault::kStall, 0.5, 10'000}}) {
    SCOPED_TRACE(static_cast<int>(c.fault));
    std::filesystem::remove(Finished());
    for (const std::size_t i : holders)
      net.world.SetLink(net.Address(0), net.Address(i), {20, 0, 0, 512 * 1024});
    const std::uint64_t delivered_before = net.world.Stats().stream_bytes_delivered;
    ASSERT_TRUE(Download(net.Address(holders[0])));
    ASSERT_TRUE(net.world.RunUntil([&] { return sending() == 4; }, 60 * 1000));
    const std::int64_t start = net.world.NowMs();
    net.world.RunFor(800);  // about a third of each range
    ASSERT_EQ(sending(), 4u);
    if (c.fault == Fault::kCut) {
      EXPECT_EQ(net.world.CutStreams(net.Address(0), net.Address(holders[1])), 1u);
    } else if (c.fault == Fault::kStall) {
      net.world.SetLink(net.Address(0), net.Address(holders[1]), {20, 0, 0, 1});
    }
    EXPECT_TRUE(RunToTheEnd(5 * 60 * 1000));
    EXPECT_EQ(Row().size, "4.1 Mb/4.1 Mb");
    EXPECT_FALSE(std::filesystem::exists(Temporary()));
    EXPECT_LT(net.world.NowMs() - start, one_link_ms * c.share_of_one_link + c.extra_ms);
    // Ranges end where the next begins: little crosses twice.
    EXPECT_LT(net.world.Stats().stream_bytes_delivered - delivered_before, bytes.size() * 5 / 4);
    net.world.RunFor(30 * 1000);  // the stalled source hears "Close" on its slow link
  }
}

}  // namespace
}  // namespace zorvex
