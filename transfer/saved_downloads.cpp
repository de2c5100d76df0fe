#include "transfer/saved_downloads.h"

#include <optional>
#include <system_error>

#include "core/address.h"
#include "core/fields.h"
#include "core/file_io.h"
#include "core/hex.h"

namespace zorvex {

namespace {

std::optional<std::string> StrictDeHex(std::string_view hex) {
  if (hex.size() % 2 != 0) return std::nullopt;
  for (const char c : hex) {
    const bool digit = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
    if (!digit) return std::nullopt;
  }
  return DeHex(hex);
}

std::optional<SavedDownload> ParseLine(std::string_view line) {
  const auto fields = SplitFields(line);
  if (fields.size() != 4 && fields.size() != 5) return std::nullopt;
  SavedDownload download;
  const auto name = StrictDeHex(fields[0]);
  const auto size = ParseDecimal<std::int32_t>(fields[1]);
  const auto hash = StrictDeHex(fields[2]);
  if (!name || name->empty() || name->size() > kMaxSavedNameBytes || !size || *size < 0 || !hash ||
      hash->size() > kMaxSavedNameBytes) {
    return std::nullopt;
  }
  if (fields.size() == 5) {
    download.whole = ParseDecimal<std::int64_t>(fields[4]);
    if (!download.whole || *download.whole < 0 || *download.whole > *size) return std::nullopt;
  }
  download.name = *name;
  download.size = *size;
  download.hash = *hash;
  std::string_view rest = fields[3];
  while (!rest.empty() && download.sources.size() < kMaxSavedSources) {
    const std::size_t comma = rest.find(',');
    const std::string_view address = rest.substr(0, comma);
    if (IsHostAddress(address)) download.sources.emplace_back(address);
    if (comma == std::string_view::npos) break;
    rest.remove_prefix(comma + 1);
  }
  return download;
}

}  // namespace

std::string FormatSavedDownloads(const std::vector<SavedDownload>& downloads) {
  std::string out = kSavedDownloadsFirstLine;
  out += '\n';
  for (const SavedDownload& download : downloads) {
    out += EnHex(download.name);
    out += '|';
    out += std::to_string(download.size);
    out += '|';
    out += EnHex(download.hash);
    out += '|';
    for (std::size_t i = 0; i < download.sources.size(); ++i) {
      if (i > 0) out += ',';
      out += download.sources[i];
    }
    if (download.whole) out += "|" + std::to_string(*download.whole);
    out += '\n';
  }
  return out;
}

std::vector<SavedDownload> ParseSavedDownloads(std::string_view text) {
  std::vector<SavedDownload> out;
  const std::size_t first_end = text.find('\n');
  if (text.substr(0, first_end) != kSavedDownloadsFirstLine) return out;
  if (first_end == std::string_view::npos) return out;
  text.remove_prefix(first_end + 1);
  while (!text.empty() && out.size() < kMaxSavedDownloads) {
    const std::size_t end = text.find('\n');
    // A last line without its end was cut short: it is not trusted.
    if (end == std::string_view::npos) break;
    if (auto download = ParseLine(text.substr(0, end))) out.push_back(std::move(*download));
    text.remove_prefix(end + 1);
  }
  return out;
}

bool WriteSavedDownloads(const std::filesystem::path& path,
                         const std::vector<SavedDownload>& downloads) {
  if (downloads.empty()) {
    std::error_code ec;
    std::filesystem::remove(path, ec);
    return !ec;
  }
  return ReplaceFileAtomically(path, FormatSavedDownloads(downloads));
}

std::vector<SavedDownload> ReadSavedDownloads(const std::filesystem::path& path) {
  std::error_code ec;
  const auto size = std::filesystem::file_size(path, ec);
  if (ec || size > kMaxSavedFileBytes) return {};
  std::string text;
  if (ReadWholeFile(path, text) != ReadResult::kRead) return {};
  return ParseSavedDownloads(text);
}

}  // namespace zorvex
