#include "share/my_files.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "search/query_match.h"

namespace zorvex {

namespace {

// The length on disk, or the listed size when the file cannot be measured, so that the total
// never keeps a file that is gone from the table.
std::int64_t LengthOnDisk(const SharedFile& row) {
  std::error_code error;
  const auto length = std::filesystem::file_size(row.FullPath(), error);
  return error ? row.size : static_cast<std::int64_t>(length);
}

}  // namespace

std::string DownloadLinkText(const SharedFile& file) {
  const std::string link =
      "zx://Get|" + file.file_name + "|" + std::to_string(file.size) + "|" + file.hash + "|";
  std::string out;
  out.reserve(link.size());
  for (const char c : link) {
    if (c == ' ') {
      out += "%20";
    } else {
      out += c;
    }
  }
  return out;
}

MyFilesResult Unshare(SharedFileTable& table, SharedTotal& total,
                      const std::vector<std::size_t>& indices) {
  std::vector<std::size_t> doomed;
  for (const std::size_t index : indices) {
    if (index < table.rows.size()) doomed.push_back(index);
  }
  std::sort(doomed.begin(), doomed.end());
  doomed.erase(std::unique(doomed.begin(), doomed.end()), doomed.end());
  if (table.rows.size() < 2 || doomed.size() >= table.rows.size()) {
    return MyFilesResult::kLastFile;
  }
  if (doomed.empty()) return MyFilesResult::kNoSelection;
  for (auto it = doomed.rbegin(); it != doomed.rend(); ++it) {
    total.Update(LengthOnDisk(table.rows[*it]), false);
    table.rows.erase(table.rows.begin() + static_cast<std::ptrdiff_t>(*it));
  }
  return MyFilesResult::kDone;
}

std::string DeleteQuestion(std::string_view file_name) {
  return "Are you sure you would like to delete " + std::string(file_name) +
         "?  It will be permanently removed.";
}

MyFilesResult DeleteFromDisk(SharedFileTable& table, SharedTotal& total,
                             std::optional<std::size_t> selected, UserPrompts& prompts) {
  if (!selected || *selected >= table.rows.size()) return MyFilesResult::kNoSelection;
  if (table.rows.size() < 2) return MyFilesResult::kLastFile;
  const std::string name = table.rows[*selected].file_name;
  if (!prompts.AskYesNo(DeleteQuestion(name), kAppTitle)) return MyFilesResult::kDeclined;
  // The prompt may have let the table change; find the row again by what it was.
  if (*selected >= table.rows.size() || table.rows[*selected].file_name != name) {
    return MyFilesResult::kNoSelection;
  }
  const SharedFile& row = table.rows[*selected];
  const std::int64_t length = LengthOnDisk(row);
  std::error_code error;
  if (!std::filesystem::remove(row.FullPath(), error) || error) {
    return MyFilesResult::kDeleteFailed;
  }
  total.Update(length, false);
  table.rows.erase(table.rows.begin() + static_cast<std::ptrdiff_t>(*selected));
  return MyFilesResult::kDone;
}

std::optional<std::size_t> FileFinder::Find(const SharedFileTable& table, std::string_view keywords,
                                            StatusModel& status, UserPrompts& prompts) {
  if (keywords.empty()) return std::nullopt;
  const QueryMatcher matcher(keywords);
  for (std::size_t row = next_row_; row <= table.rows.size(); ++row) {
    if (matcher.Matches(table.rows[row - 1].file_name)) {
      next_row_ = row + 1;
      caption_ = "Find Next";
      return row - 1;
    }
  }
  prompts.Beep();
  status.SetStatus(next_row_ > 1 ? "No More Items Found." : "No Shared Items Found!");
  Cancel();
  return std::nullopt;
}

void FileFinder::Cancel() {
  caption_ = "Find";
  next_row_ = 1;
}

}  // namespace zorvex
