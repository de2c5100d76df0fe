#pragma once
// The operations of the My Files pane that are not drawing: the download link of a row, taking a
// row out of the share, deleting its file, and finding rows by keywords.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/runtime.h"
#include "core/status.h"
#include "share/format.h"
#include "share/shared_files.h"

namespace zorvex {

inline constexpr std::string_view kLastSharedFileMessage =
    "You must have at least 1 file being shared!";

// "zx://Get|name|size|hash|" with every blank written as "%20".
std::string DownloadLinkText(const SharedFile& file);

enum class MyFilesResult {
  kDone,
  kNoSelection,   // nothing selected, or an index outside the table
  kLastFile,      // the caller shows kLastSharedFileMessage (critical icon)
  kDeclined,      // the user answered No
  kDeleteFailed,  // the file could not be removed; the row and the total stay
};

// Removes the rows from the table (not from disk) and subtracts each file's length on disk, or
// its listed size when that cannot be read, from the total. Refused without change when the
// table has fewer than 2 rows or the rows named are all it has. The next scan lists them again.
MyFilesResult Unshare(SharedFileTable& table, SharedTotal& total,
                      const std::vector<std::size_t>& indices);

// "Are you sure you would like to delete <name>?  It will be permanently removed."
std::string DeleteQuestion(std::string_view file_name);

// Asks the question, then deletes the selected row's file and removes the row, subtracting the
// file's length from the total.
MyFilesResult DeleteFromDisk(SharedFileTable& table, SharedTotal& total,
                             std::optional<std::size_t> selected, UserPrompts& prompts);

// The find panel: the find button carries the next row number to test (1-based) and its caption.
class FileFinder {
 public:
  // The find button, whatever its caption: tests rows from the carried number on, matching the
  // whole file name with MatchesQuery. Gives the index of the row to select. Nothing happens for
  // empty keywords; when nothing is found it beeps, shows "No More Items Found." (search had
  // started past row 1) or "No Shared Items Found!", and cancels. There is no wrap-around.
  std::optional<std::size_t> Find(const SharedFileTable& table, std::string_view keywords,
                                  StatusModel& status, UserPrompts& prompts);
  // The cancel button: caption "Find", row number 1.
  void Cancel();

  const std::string& caption() const { return caption_; }
  std::size_t next_row() const { return next_row_; }

 private:
  std::size_t next_row_ = 1;
  std::string caption_ = "Find";
};

}  // namespace zorvex
