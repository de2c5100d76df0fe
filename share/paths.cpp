#include "share/paths.h"

#include <system_error>

namespace zorvex {
namespace {

// A NUL byte cannot be part of a name, and the system call would stop reading at it.
std::filesystem::file_status StatusOf(const std::filesystem::path& path) {
  const std::filesystem::file_status missing(std::filesystem::file_type::not_found);
  const std::string& native = path.native();
  if (native.empty() || native.find('\0') != std::string::npos) return missing;
  std::error_code error;
  const auto status = std::filesystem::status(path, error);
  return error ? missing : status;
}

}  // namespace

std::string CollapseSeparators(std::string_view path) {
  std::string out;
  out.reserve(path.size());
  for (std::size_t i = 0; i < path.size(); ++i) {
    out.push_back(path[i]);
    if (path[i] == kPathSeparator && i + 1 < path.size() && path[i + 1] == kPathSeparator) ++i;
  }
  return out;
}

std::string GetFileName(std::string_view path) {
  const std::size_t slash = path.rfind(kPathSeparator);
  if (slash == std::string_view::npos) return "Unknown";
  return std::string(path.substr(slash + 1));
}

std::string EnsureTrailingSeparator(std::string_view folder) {
  std::string out(folder);
  if (out.empty() || out.back() != kPathSeparator) out.push_back(kPathSeparator);
  return out;
}

bool FileExists(const std::filesystem::path& path) {
  const auto status = StatusOf(path);
  return std::filesystem::exists(status) && !std::filesystem::is_directory(status);
}

bool DirExists(const std::filesystem::path& path) {
  return std::filesystem::exists(StatusOf(path));
}

}  // namespace zorvex
