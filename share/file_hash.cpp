#include "share/file_hash.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <limits>

#include <openssl/evp.h>

#include "share/paths.h"

namespace zorvex {

std::int32_t HashBlockSize(std::optional<int> list_index) {
  if (!list_index) return kDefaultHashBlockSize;
  switch (*list_index) {
    case 1:
      return 100'000;
    case 2:
      return 80'000;
    case 3:
      return 30'000;
    default:
      return kDefaultHashBlockSize;
  }
}

std::string HashProgressLine(std::int64_t count, std::string_view name, std::int64_t done,
                             std::int64_t size) {
  std::int64_t percent = 100;
  if (size > 0) {
    // Exact integer rounding, halves to even, as every other rounded figure of the program.
    const std::int64_t scaled = done * 100;
    percent = scaled / size;
    const std::int64_t twice_rest = 2 * (scaled % size);
    if (twice_rest > size || (twice_rest == size && percent % 2 != 0)) ++percent;
  }
  std::string line = "File Scanner (";
  line.append(std::to_string(count)).append("): Hashing ").append(name);
  line.append(" [").append(std::to_string(percent)).append("%]");
  return line;
}

FileHasher::FileHasher(std::int32_t block_size)
    : block_size_(block_size > 0 ? block_size : kDefaultHashBlockSize) {}

FileHasher::~FileHasher() {
  Close();
  EVP_MD_CTX_free(context_);
}

void FileHasher::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

HashStep FileHasher::Fail() {
  Close();
  buffer_.clear();
  buffer_.shrink_to_fit();
  state_ = State::kFailed;
  return HashStep::kFailed;
}

bool FileHasher::Open(const std::filesystem::path& path) {
  if (state_ != State::kIdle) return false;
  name_ = GetFileName(path.native());
  if (!OpenFile(path)) {
    Fail();
    return false;
  }
  state_ = State::kReading;
  return true;
}

bool FileHasher::OpenFile(const std::filesystem::path& path) {
  // Non-blocking so that a named pipe cannot stall the open; only regular files are hashed.
  fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd_ < 0) return false;
  struct stat info {};
  if (::fstat(fd_, &info) != 0 || !S_ISREG(info.st_mode)) return false;
  if (info.st_size > std::numeric_limits<std::int32_t>::max()) return false;
  size_ = static_cast<std::int32_t>(info.st_size);
  context_ = EVP_MD_CTX_new();
  if (context_ == nullptr || EVP_DigestInit_ex(context_, EVP_md5(), nullptr) != 1) return false;
  // One buffer per file; the tail reuses its front.
  buffer_.resize(static_cast<std::size_t>(size_ < block_size_ ? size_ : block_size_));
  return true;
}

bool FileHasher::ReadExactly(std::size_t count) {
  std::size_t got = 0;
  while (got < count) {
    const ::ssize_t n = ::read(fd_, buffer_.data() + got, count - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;  // error, or the file shrank
    got += static_cast<std::size_t>(n);
  }
  return true;
}

HashStep FileHasher::Step() {
  if (state_ == State::kFinished) return HashStep::kDone;
  if (state_ != State::kReading) return HashStep::kFailed;
  // A full block while one remains, then the tail (or the whole small file).
  const std::int64_t left = size_ - done_;
  const auto count = static_cast<std::size_t>(left >= block_size_ ? block_size_ : left);
  if (!ReadExactly(count)) return Fail();
  if (EVP_DigestUpdate(context_, buffer_.data(), count) != 1) return Fail();
  done_ += static_cast<std::int64_t>(count);
  if (done_ < size_) return HashStep::kMore;

  // A file that grew or shrank while it was read would give the hash of no version of it.
  struct stat info {};
  if (::fstat(fd_, &info) != 0 || info.st_size != size_) return Fail();
  Close();
  buffer_.clear();
  buffer_.shrink_to_fit();
  state_ = State::kFinished;
  return HashStep::kDone;
}

std::string FileHasher::Finish() {
  Close();
  if (state_ != State::kFinished) {
    state_ = State::kFailed;
    return {};
  }
  if (!digest_.empty()) return digest_;
  std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
  unsigned int length = 0;
  if (EVP_DigestFinal_ex(context_, digest.data(), &length) != 1 || length != 16) {
    state_ = State::kFailed;
    return {};
  }
  static constexpr char kHexDigits[] = "0123456789ABCDEF";
  digest_.reserve(32);
  for (unsigned int i = 0; i < length; ++i) {
    digest_.push_back(kHexDigits[digest[i] >> 4]);
    digest_.push_back(kHexDigits[digest[i] & 15]);
  }
  return digest_;
}

std::string HashFileNow(const std::filesystem::path& path, std::int32_t block_size) {
  FileHasher hasher(block_size);
  if (!hasher.Open(path)) return {};
  HashStep step = HashStep::kMore;
  while (step == HashStep::kMore)
    step = hasher.Step();
  return hasher.Finish();
}

}  // namespace zorvex
