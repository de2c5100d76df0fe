#pragma once
// Whole-file reads and crash-safe whole-file replacement.

#include <filesystem>
#include <string>
#include <string_view>

namespace zorvex {

enum class ReadResult { kRead, kMissing, kFailed };

// Reads the whole file into `out` (emptied first).
ReadResult ReadWholeFile(const std::filesystem::path& path, std::string& out);

// Writes a hidden sibling temporary file, syncs it and renames it over `path`, so readers see
// either the old file or the new one whole. An existing file keeps its mode (new files get 0644);
// a symbolic link is written through rather than replaced. The folder must exist. On failure
// nothing changes and no temporary file is left.
bool ReplaceFileAtomically(const std::filesystem::path& path, std::string_view bytes);

// Creates a missing folder and its missing parents with mode 0700.
bool EnsurePrivateFolder(const std::filesystem::path& folder);

}  // namespace zorvex
