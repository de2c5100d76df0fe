#include <gtest/gtest.h>

#include <random>

#include "scenario/sim_network.h"
#include "share/file_hash.h"
#include "share/file_kind.h"
#include "share/shared_files.h"
#include "transfer/transfers.h"

namespace zorvex {
namespace {

using testing::kGatewayUrl;
using testing::SimNetwork;

constexpr std::int64_t kLinkBytesPerSecond = 512 * 1024;
const std::size_t kHolders[] = {5, 9, 14, 17};

// Four holders, each behind a link of its own to the downloader, which fetches from four at once.
class MultiSourceScenarioTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (int i = 0; i < 20; ++i)
      net.AddNode(i % 10);
    net.world.ServeHttp(kGatewayUrl, [this] { return net[0].GatewayPage(); });
    net.world.RunFor(5 * 60 * 1000);
    std::mt19937 random(11);
    bytes.resize((4 << 20) + 12345);
    for (auto& c : bytes)
      c = static_cast<char>(random());
    testing::WriteFileBytes(files.path() / "song.mp3", bytes);
    hash = HashFileNow(files.path() / "song.mp3");
    for (const std::size_t i : kHolders) {
      SharedFile row;
      row.file_name = "song.mp3";
      row.category = GetFileCategory(row.file_name);
      row.size = static_cast<std::int32_t>(bytes.size());
      row.hash = hash;
      row.folder = files.path().string() + "/";
      net[i].shared_files().rows.push_back(row);
      net.world.SetLink(net.Address(0), net.Address(i), {20, 0, 0, kLinkBytesPerSecond});
    }
    net[0].preferences().SourcesAtOnce = 4;
  }

  const TransferRow& Row() { return net[0].transfers().download_rows().back(); }
  std::vector<TransferSource> Sources() {
    return net[0].transfers().Sources(net[0].transfers().download_rows().size() - 1);
  }
  std::size_t Sending() {
    std::size_t n = 0;
    for (const auto& source : Sources())
      n += source.use == "1";
    return n;
  }

  SimNetwork net{41};
  testing::TempDir files;
  std::string bytes;
  std::string hash;
};

// One of the four breaks or stalls in the middle of its range: the rest of that range goes to
// the others, and the file is whole and digests right.
TEST_F(MultiSourceScenarioTest, ALostSourcesRangeGoesToTheOthers) {
  enum class Fault { kNone, kCut, kStall };
  const Fault faults[] = {Fault::kNone, Fault::kCut, Fault::kStall};
  const auto finished = net.nodes[0].home->path() / "song.mp3";
  for (const Fault fault : faults) {
    SCOPED_TRACE(static_cast<int>(fault));
    std::filesystem::remove(finished);
    for (const std::size_t i : kHolders)
      net.world.SetLink(net.Address(0), net.Address(i), {20, 0, 0, kLinkBytesPerSecond});
    const std::uint64_t delivered_before = net.world.Stats().stream_bytes_delivered;
    ASSERT_TRUE(net[0].transfers().StartDownload(
        "song.mp3", static_cast<std::int32_t>(bytes.size()), hash, net.Address(kHolders[0])));
    ASSERT_TRUE(net.world.RunUntil([&] { return Sending() == 4; }, 60 * 1000));
    const std::int64_t start = net.world.NowMs();
    net.world.RunFor(800);  // about a third of each range
    ASSERT_EQ(Sending(), 4u);
    const std::string victim = net.Address(kHolders[1]);
    if (fault == Fault::kCut) {
      EXPECT_EQ(net.world.CutStreams(net.Address(0), victim), 1u);
    } else if (fault == Fault::kStall) {
      net.world.SetLink(net.Address(0), victim, {20, 0, 0, 1});
    }
    ASSERT_TRUE(net.world.RunUntil([&] { return Row().tag == "Finished" || Row().tag == "Error"; },
                                   5 * 60 * 1000));
    EXPECT_EQ(Row().status, "Finished");
    EXPECT_EQ(Row().size, "4.11 Mb/4.11 Mb");
    EXPECT_EQ(testing::ReadFileBytes(finished), bytes);
    EXPECT_FALSE(std::filesystem::exists(finished.string() + "TMP"));
    // Four links at once move the file in about a quarter of one link's time; a lost source
    // costs its range's rest, and a stalled one also the ticks before it counts as stalled.
    const double one_link_ms = static_cast<double>(bytes.size()) * 1000 / kLinkBytesPerSecond;
    const double limit_ms = fault == Fault::kNone  ? one_link_ms * 0.35
                            : fault == Fault::kCut ? one_link_ms * 0.5
                                                   : one_link_ms * 0.5 + 10'000;
    EXPECT_LT(static_cast<double>(net.world.NowMs() - start), limit_ms);
    // Ranges end where the next begins, so little is fetched twice.
    const std::uint64_t delivered = net.world.Stats().stream_bytes_delivered - delivered_before;
    EXPECT_LT(delivered, bytes.size() * 5 / 4);
    net.world.RunFor(30 * 1000);  // the stalled source hears "Close" on its slow link
  }
}

}  // namespace
}  // namespace zorvex
