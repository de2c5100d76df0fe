#include "core/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace zorvex {
namespace {

namespace fs = std::filesystem;

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const auto wrote = ::write(fd, bytes.data(), bytes.size());
    if (wrote < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(wrote));
  }
  return true;
}

}  // namespace

ReadResult ReadWholeFile(const fs::path& path, std::string& out) {
  out.clear();
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT ? ReadResult::kMissing : ReadResult::kFailed;
  struct stat info {};
  if (::fstat(fd, &info) == 0 && info.st_size > 0)
    out.reserve(static_cast<std::size_t>(info.st_size));
  char buffer[65536];
  for (;;) {
    const auto got = ::read(fd, buffer, sizeof buffer);
    if (got == 0) break;
    if (got < 0) {
      if (errno == EINTR) continue;
      ::close(fd);
      out.clear();
      return ReadResult::kFailed;
    }
    out.append(buffer, static_cast<std::size_t>(got));
  }
  ::close(fd);
  return ReadResult::kRead;
}

bool ReplaceFileAtomically(const fs::path& path, std::string_view bytes) {
  std::error_code ec;
  fs::path target = path;
  if (fs::is_symlink(path, ec)) {
    auto resolved = fs::canonical(path, ec);
    if (!ec) target = std::move(resolved);
  }

  mode_t mode = 0644;
  struct stat existing {};
  if (::stat(target.c_str(), &existing) == 0) mode = existing.st_mode & 07777;

  // Hidden, and without the target's suffix, so that folder watchers ignore it.
  std::string temporary =
      (target.parent_path() / ("." + target.filename().string() + ".XXXXXX")).string();
  const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
  if (fd < 0) return false;
  bool ok = WriteAll(fd, bytes) && ::fchmod(fd, mode) == 0 && ::fsync(fd) == 0;
  ok = (::close(fd) == 0) && ok;
  if (ok) ok = ::rename(temporary.c_str(), target.c_str()) == 0;
  if (!ok) ::unlink(temporary.c_str());
  return ok;
}

bool EnsurePrivateFolder(const fs::path& folder) {
  std::error_code ec;
  if (fs::is_directory(folder, ec)) return true;
  const auto parent = folder.parent_path();
  if (parent.empty() || parent == folder || !EnsurePrivateFolder(parent)) return false;
  if (::mkdir(folder.c_str(), 0700) == 0) return true;
  return errno == EEXIST && fs::is_directory(folder, ec);
}

}  // namespace zorvex
