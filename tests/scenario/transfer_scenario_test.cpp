#include <gtest/gtest.h>

#include <random>

#include "network/peer_table.h"
#include "scenario/sim_network.h"
#include "share/file_hash.h"
#include "share/file_kind.h"
#include "share/shared_files.h"
#include "transfer/transfers.h"

namespace zorvex {
namespace {

using testing::kGatewayUrl;
using testing::SimNetwork;

class TransferScenarioTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (int i = 0; i < 20; ++i)
      net.AddNode(i % 10);
    net.world.ServeHttp(kGatewayUrl, [this] { return net[0].GatewayPage(); });
    net.world.RunFor(5 * 60 * 1000);
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
  ASSERT_TRUE(net[0].transfers().StartDownload("song.mp3", static_cast<std::int32_t>(bytes.size()),
                                               hash, net.Address(5)));
  std::size_t given_up = 0;
  std::int64_t receiving_at = -1;
  const std::int64_t start = net.world.NowMs();
  const auto temporary = Finished().string() + "TMP";
  std::error_code ec;
  ASSERT_TRUE(net.world.RunUntil(
      [&] {
        const auto sources = net[0].transfers().Sources(0);
        std::size_t minus = 0;
        for (const auto& source : sources)
          minus += source.use == "-1";
        given_up = std::max(given_up, minus);
        if (receiving_at < 0 && std::filesystem::exists(temporary, ec) &&
            std::filesystem::file_size(temporary, ec) > 0) {
          receiving_at = net.world.NowMs();
        }
        return Row().tag == "Finished" || Row().tag == "Error";
      },
      10 * 60 * 1000));
  EXPECT_EQ(Row().status, "Finished");
  EXPECT_EQ(testing::ReadFileBytes(Finished()), bytes);
  // 20 ticks of collecting, then 20 ticks for every source that never connected.
  EXPECT_GE(given_up, 1u);
  EXPECT_GE(receiving_at - start, 20'000 * static_cast<std::int64_t>(1 + given_up));
  EXPECT_FALSE(std::filesystem::exists(Finished().string() + "TMP"));
}

TEST_F(TransferScenarioTest, ASourceCutMidFileIsResumedFromAnother) {
  for (std::size_t i : {5, 14})
    Share(i);
  // Slow links to the downloader so that the cut comes in the middle.
  for (std::size_t i = 1; i < net.nodes.size(); ++i) {
    net.world.SetLink(net.Address(0), net.Address(i), {20, 0, 0, 512 * 1024});
  }
  ASSERT_TRUE(net[0].transfers().StartDownload("song.mp3", static_cast<std::int32_t>(bytes.size()),
                                               hash, ""));
  const auto temporary = Finished().string() + "TMP";
  std::error_code ec;
  ASSERT_TRUE(net.world.RunUntil(
      [&] {
        return std::filesystem::exists(temporary, ec) &&
               std::filesystem::file_size(temporary, ec) >= bytes.size() / 2;
      },
      5 * 60 * 1000));
  std::string cut;
  for (const auto& source : net[0].transfers().Sources(0)) {
    if (source.use == "1") cut = source.address;
  }
  ASSERT_FALSE(cut.empty());
  const auto held = static_cast<std::uint64_t>(std::filesystem::file_size(temporary, ec));
  EXPECT_GT(net.world.CutStreams(net.Address(0), cut), 0u);
  const std::uint64_t delivered_before = net.world.Stats().stream_bytes_delivered;
  ASSERT_TRUE(net.world.RunUntil([&] { return Row().tag == "Finished" || Row().tag == "Error"; },
                                 10 * 60 * 1000));
  EXPECT_EQ(Row().status, "Finished");
  EXPECT_EQ(testing::ReadFileBytes(Finished()), bytes);
  // Resumed where the temporary file ended, less the 4096 bytes fetched again: the bytes that
  // crossed any connection after the cut are the rest of the file and a few short messages.
  const std::uint64_t delivered = net.world.Stats().stream_bytes_delivered - delivered_before;
  EXPECT_LE(delivered, bytes.size() - held + 4096 + 256);
  EXPECT_LT(delivered, bytes.size() * 3 / 4);
}

}  // namespace
}  // namespace zorvex
