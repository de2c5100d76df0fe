// Scans a tree of 10,000 small files twice on a simulated host: a first scan that hashes every
// file, then a rescan of the unchanged files that finds every hash in FileDatabase.dll. Prints
// both wall-clock costs, the rescan's cost per file and the ratio.

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "core/status.h"
#include "platform/sim/sim_world.h"
#include "settings/ini_store.h"
#include "share/folder_scan.h"
#include "share/format.h"
#include "share/shared_files.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kFiles = 10'000;

// 100 folders of 100 files each, 50 of the folders one level deeper.
void MakeTree(const fs::path& root) {
  for (int i = 0; i < kFiles; ++i) {
    const int folder = i / 100;
    fs::path dir = root / ("Artist " + std::to_string(folder));
    if (folder % 2 == 1) dir /= "Album";
    if (i % 100 == 0) fs::create_directories(dir);
    std::ofstream out(dir / ("Track " + std::to_string(i) + ".mp3"), std::ios::binary);
    out << "file " << i << std::string(static_cast<std::size_t>(100 + i % 900), 'x');
  }
}

double ScanSeconds(zorvex::SimWorld& world, zorvex::FolderScan& scan,
                   const zorvex::SharedFileTable& table) {
  const auto start = Clock::now();
  scan.Tick();
  world.RunUntil([&] { return !scan.scanning(); }, 1'000'000'000);
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  if (table.rows.size() != static_cast<std::size_t>(kFiles)) {
    std::fprintf(stderr, "scan listed %zu files, expected %d\n", table.rows.size(), kFiles);
    std::exit(1);
  }
  return seconds;
}

}  // namespace

int main() {
  std::string pattern = (fs::temp_directory_path() / "zorvex-rescan-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) return 1;
  const fs::path base = pattern;
  const fs::path home = base / "home";
  const fs::path shared = base / "shared";
  fs::create_directories(home);
  MakeTree(shared);

  zorvex::SimWorld world(1);
  auto host = world.CreateHost("10.0.0.1");
  zorvex::IniStore store;
  store.WriteINI("Shared", "Directories", shared.string() + "|", home / "prefs.dll");
  zorvex::SharedFileTable table;
  zorvex::SharedTotal total;
  zorvex::StatusModel status;
  zorvex::FolderScan scan(*host, store, home, table, total, status, {});

  const std::int64_t virtual_start = world.NowMs();
  const double first = ScanSeconds(world, scan, table);
  const std::int64_t first_virtual = world.NowMs() - virtual_start;
  const double rescan = ScanSeconds(world, scan, table);

  std::printf(
      "rescan_bench: %d files, scanned on the simulated platform (SimWorld/SimHost; "
      "wall-clock time of the scan's own steps, virtual hashing delay not waited for)\n",
      kFiles);
  std::printf("first scan (hashes every file): %.3f s (%.1f us/file; %lld ms virtual time)\n",
              first, first * 1e6 / kFiles, static_cast<long long>(first_virtual));
  std::printf("rescan (every hash from FileDatabase.dll): %.3f s (%.1f us/file)\n", rescan,
              rescan * 1e6 / kFiles);
  std::printf("ratio first scan / rescan: %.1fx\n", first / rescan);

  std::error_code ignored;
  fs::remove_all(base, ignored);
  return 0;
}
