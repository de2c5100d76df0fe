// Downloads from several sources at once on the simulated network: one file held by four nodes,
// each behind a link of 1 MiB/s to the downloader, fetched once from one source at a time
// (SourcesAtOnce 1) and once from four at once. Prints both virtual times, from the request and
// from the first byte, and their ratios; both runs happen in this process on identical worlds.

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>

#include "scenario/sim_network.h"
#include "share/file_hash.h"
#include "share/file_kind.h"
#include "share/shared_files.h"

namespace {

using zorvex::testing::SimNetwork;

constexpr std::int64_t kLinkBytesPerSecond = 1 << 20;
constexpr std::size_t kFileBytes = 32 << 20;
constexpr std::size_t kHolders[] = {5, 9, 14, 17};

struct Run {
  bool finished = false;
  std::int64_t total_ms = 0;     // from the request to "Finished"
  std::int64_t transfer_ms = 0;  // from the first byte on disk to "Finished"
  std::uint64_t delivered = 0;   // bytes that crossed any connection meanwhile
};

Run Download(int sources_at_once, const std::filesystem::path& file, const std::string& hash) {
  SimNetwork net(41);
  for (int i = 0; i < 20; ++i)
    net.AddNode(i % 10);
  net.world.ServeHttp(zorvex::testing::kGatewayUrl, [&net] { return net[0].GatewayPage(); });
  net.world.RunFor(5 * 60 * 1000);
  for (const std::size_t i : kHolders) {
    zorvex::SharedFile row;
    row.file_name = file.filename().string();
    row.category = zorvex::GetFileCategory(row.file_name);
    row.size = static_cast<std::int32_t>(kFileBytes);
    row.hash = hash;
    row.folder = file.parent_path().string() + "/";
    net[i].shared_files().rows.push_back(row);
    net.world.SetLink(net.Address(0), net.Address(i), {20, 0, 0, kLinkBytesPerSecond});
  }
  net[0].preferences().SourcesAtOnce = sources_at_once;
  auto& transfers = net[0].transfers();
  const auto temporary = net.nodes[0].home->path() / (file.filename().string() + "TMP");
  const std::uint64_t delivered_before = net.world.Stats().stream_bytes_delivered;
  const std::int64_t start = net.world.NowMs();
  std::int64_t first_byte = -1;
  transfers.StartDownload(file.filename().string(), static_cast<std::int32_t>(kFileBytes), hash,
                          net.Address(kHolders[0]));
  std::error_code ec;
  Run run;
  net.world.RunUntil(
      [&] {
        if (first_byte < 0 && std::filesystem::file_size(temporary, ec) > 0 && !ec) {
          first_byte = net.world.NowMs();
        }
        const auto& tag = transfers.download_rows().back().tag;
        run.finished = tag == "Finished";
        return tag == "Finished" || tag == "Error";
      },
      30 * 60 * 1000);
  run.total_ms = net.world.NowMs() - start;
  run.transfer_ms = net.world.NowMs() - first_byte;
  run.delivered = net.world.Stats().stream_bytes_delivered - delivered_before;
  return run;
}

}  // namespace

int main() {
  zorvex::testing::TempDir files;
  const auto file = files.path() / "album.zip";
  std::string bytes(kFileBytes, '\0');
  std::mt19937 random(3);
  for (auto& c : bytes)
    c = static_cast<char>(random());
  zorvex::testing::WriteFileBytes(file, bytes);
  const std::string hash = zorvex::HashFileNow(file);

  const auto wall = std::chrono::steady_clock::now();
  const Run one = Download(1, file, hash);
  const Run four = Download(4, file, hash);
  const double wall_s =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - wall).count();
  if (!one.finished || !four.finished) {
    std::printf("a download did not finish (one source: %d, four: %d)\n", one.finished,
                four.finished);
    return 1;
  }
  std::printf("%zu MiB, four holders each behind 1 MiB/s (virtual time; %.1f s of wall time)\n",
              kFileBytes >> 20, wall_s);
  std::printf("  one source at a time: %7.2f s from the request, %7.2f s from the first byte\n",
              one.total_ms / 1000.0, one.transfer_ms / 1000.0);
  std::printf("  four sources at once: %7.2f s from the request, %7.2f s from the first byte\n",
              four.total_ms / 1000.0, four.transfer_ms / 1000.0);
  std::printf("  speed-up: %.2fx from the first byte, %.2fx including the 20 s source search\n",
              static_cast<double>(one.transfer_ms) / static_cast<double>(four.transfer_ms),
              static_cast<double>(one.total_ms) / static_cast<double>(four.total_ms));
  std::printf("  bytes over connections per file byte: %.3f vs %.3f\n",
              static_cast<double>(one.delivered) / kFileBytes,
              static_cast<double>(four.delivered) / kFileBytes);
  return 0;
}
