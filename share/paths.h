#pragma once
// Path helpers over native paths held as byte strings ('/' is the separator).

#include <filesystem>
#include <string>
#include <string_view>

namespace zorvex {

inline constexpr char kPathSeparator = '/';

// Every doubled separator becomes a single one (one pass, left to right).
std::string CollapseSeparators(std::string_view path);

// The part after the last separator (empty when the path ends in one); "Unknown" without one.
std::string GetFileName(std::string_view path);

// The folder with a separator appended unless it already ends in one (so "" gives "/").
std::string EnsureTrailingSeparator(std::string_view folder);

// True when an entry that is not a directory is found at the path (symbolic links followed;
// hidden and read-only files count). Never throws; any error reads as false.
bool FileExists(const std::filesystem::path& path);

// True when any entry is found at the path, a directory or a plain file alike. Never throws.
bool DirExists(const std::filesystem::path& path);

}  // namespace zorvex
