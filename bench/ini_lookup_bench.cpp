// Looks up every entry of a 10,000-file FileDatabase.dll through IniStore, and through a baseline
// that re-reads and re-parses the file for each lookup as the classic profile functions do.
// Prints both costs per lookup and their ratio.

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "core/hex.h"
#include "settings/huffman.h"
#include "settings/ini_file.h"
#include "settings/ini_store.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Entry {
  std::string path;
  std::string size;
  std::string hash;
};

std::vector<Entry> MakeEntries(int count) {
  std::vector<Entry> entries;
  std::mt19937 random(42);
  static constexpr char kHex[] = "0123456789ABCDEF";
  for (int i = 0; i < count; ++i) {
    Entry entry;
    entry.path = "/home/listener/Music/Artist " + std::to_string(i / 12) + "/Album " +
                 std::to_string(i % 7) + "/" + std::to_string(i % 12 + 1) + " - Track " +
                 std::to_string(i) + ".mp3";
    entry.size = std::to_string(1'000'000 + random() % 9'000'000);
    for (int d = 0; d < 32; ++d)
      entry.hash.push_back(kHex[random() % 16]);
    entries.push_back(std::move(entry));
  }
  return entries;
}

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t' || text.front() == '\r')) {
    text.remove_prefix(1);
  }
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) {
    text.remove_suffix(1);
  }
  return text;
}

bool SameFolded(std::string_view a, std::string_view b) {
  return a.size() == b.size() && zorvex::FoldCase(a) == zorvex::FoldCase(b);
}

// What a profile-function lookup costs: read the whole file, then scan its lines until the
// section and the key turn up, then decode.
std::string BaselineLookup(const std::filesystem::path& file, const Entry& entry) {
  std::ifstream in(file, std::ios::binary);
  const std::string text(std::istreambuf_iterator<char>(in), {});
  const std::string section = zorvex::EnHex(entry.path);
  const std::string key = zorvex::EnHex(entry.size);
  std::string_view rest = text;
  bool in_section = false;
  while (!rest.empty()) {
    const auto newline = rest.find('\n');
    const std::string_view line = TrimBlanks(rest.substr(0, newline));
    rest = newline == std::string_view::npos ? std::string_view{} : rest.substr(newline + 1);
    if (!line.empty() && line.front() == '[') {
      if (in_section) return {};
      const auto close = line.find(']');
      in_section =
          SameFolded(line.substr(1, close == std::string_view::npos ? close : close - 1), section);
    } else if (in_section) {
      const auto equals = line.find('=');
      if (equals != std::string_view::npos && SameFolded(TrimBlanks(line.substr(0, equals)), key)) {
        const std::string_view stored = TrimBlanks(line.substr(equals + 1));
        return zorvex::HuffmanDecode(zorvex::DeHex(stored.substr(0, zorvex::kIniReadLimit)));
      }
    }
  }
  return {};
}

double Seconds(Clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

}  // namespace

int main(int argc, char** argv) {
  const int count = argc > 1 ? std::atoi(argv[1]) : 10000;
  const int baseline_samples = std::min(count, argc > 2 ? std::atoi(argv[2]) : 300);
  char folder_template[] = "/tmp/zorvex-bench-XXXXXX";
  if (::mkdtemp(folder_template) == nullptr) return 1;
  const std::filesystem::path folder = folder_template;
  const auto file = folder / "FileDatabase.dll";

  const auto entries = MakeEntries(count);
  {
    zorvex::IniStore writer;
    zorvex::IniStore::Batch batch(writer, file);
    for (const auto& entry : entries)
      writer.WriteINI(entry.path, entry.size, entry.hash, file);
  }
  std::vector<std::size_t> order(entries.size());
  for (std::size_t i = 0; i < order.size(); ++i)
    order[i] = i;
  std::shuffle(order.begin(), order.end(), std::mt19937(7));

  // The store: a fresh object, so the first lookup pays for reading the file.
  std::size_t found = 0;
  const auto store_start = Clock::now();
  {
    zorvex::IniStore store;
    for (auto i : order)
      found += store.ReadINI(entries[i].path, entries[i].size, file).size() == 32;
  }
  const double store_seconds = Seconds(Clock::now() - store_start);

  std::size_t baseline_found = 0;
  const auto baseline_start = Clock::now();
  for (int s = 0; s < baseline_samples; ++s) {
    const auto& entry = entries[order[static_cast<std::size_t>(s)]];
    baseline_found += BaselineLookup(file, entry) == entry.hash;
  }
  const double baseline_seconds = Seconds(Clock::now() - baseline_start);

  const double store_per_lookup = store_seconds / count;
  const double baseline_per_lookup = baseline_seconds / baseline_samples;
  const double ratio = baseline_per_lookup / store_per_lookup;
  std::printf("FileDatabase.dll: %d entries, %.1f MB\n", count,
              static_cast<double>(std::filesystem::file_size(file)) / 1e6);
  std::printf("IniStore:  %d lookups, %zu found, %.3f us per lookup (first read included)\n", count,
              found, store_per_lookup * 1e6);
  std::printf("baseline:  %d lookups, %zu found, %.1f us per lookup (re-read and re-parse)\n",
              baseline_samples, baseline_found, baseline_per_lookup * 1e6);
  std::printf("ratio: IniStore is %.0f times faster (target: at least 100) -> %s\n", ratio,
              ratio >= 100 ? "met" : "NOT met");
  std::filesystem::remove_all(folder);
  return found == static_cast<std::size_t>(count) &&
                 baseline_found == static_cast<std::size_t>(baseline_samples)
             ? 0
             : 1;
}
