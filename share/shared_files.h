#pragma once
// The shared-file table: one row per file offered to other nodes, in list order. It has no index;
// searches and lookups walk it.

#include <cstdint>
#include <string>
#include <vector>

namespace zorvex {

struct SharedFile {
  std::string file_name;   // as found on disk, without folder
  std::string category;    // category name, e.g. "Music"
  std::string size_text;   // FormatFileSize of size
  std::int32_t size = 0;   // bytes
  std::string hash;        // 32 upper-case hex digits
  std::string media_info;  // MP3 description, or empty
  std::string folder;      // ends in '/'
  std::string base_name;   // file name without its last '.' and extension

  std::string FullPath() const { return folder + file_name; }
};

// The rows and the list's sorted mode, which doubles as the mark that no scan is running.
struct SharedFileTable {
  std::vector<SharedFile> rows;
  bool sorted = false;
};

}  // namespace zorvex
