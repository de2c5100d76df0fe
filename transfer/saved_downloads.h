#pragma once
// The downloads in progress, kept in a file of their own in the program folder so that they come
// back after a restart. Not in prefs.dll: other copies of the client read that file.
//
// The file is text, one line per download after a first line naming the format:
//   Zorvex unfinished downloads 1
//   <name as hex>|<size in decimal>|<hash as hex>|<source address>,<source address>,...
// followed, for a download that fetched ranges from several sources at once, by "|" and the
// length in decimal of the temporary file's start that is whole; beyond it the file may hold gaps.
// Names and hashes are stored as two upper-case hex digits per byte, so any byte may occur in
// them. Lines that do not read as this are skipped.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zorvex {

inline constexpr char kSavedDownloadsFileName[] = "UnfinishedDownloads.txt";
inline constexpr char kSavedDownloadsFirstLine[] = "Zorvex unfinished downloads 1";
// Bounds for a file that may have been damaged or written by someone else.
inline constexpr std::size_t kMaxSavedDownloads = 1'000;
inline constexpr std::size_t kMaxSavedSources = 64;
inline constexpr std::size_t kMaxSavedNameBytes = 1'024;
inline constexpr std::size_t kMaxSavedFileBytes = 4 << 20;

struct SavedDownload {
  std::string name;
  std::int32_t size = 0;
  std::string hash;
  std::vector<std::string> sources;                  // dotted IPv4 addresses
  std::optional<std::int64_t> whole = std::nullopt;  // 0 to size; none: all the temporary file is

  bool operator==(const SavedDownload&) const = default;
};

std::string FormatSavedDownloads(const std::vector<SavedDownload>& downloads);
std::vector<SavedDownload> ParseSavedDownloads(std::string_view text);

// Replaces the file whole (temporary file, then rename); an empty list removes it.
bool WriteSavedDownloads(const std::filesystem::path& path,
                         const std::vector<SavedDownload>& downloads);
// Nothing for a missing, unreadable or oversized file.
std::vector<SavedDownload> ReadSavedDownloads(const std::filesystem::path& path);

}  // namespace zorvex
