#pragma once
// MD5 of a whole file as 32 upper-case hex digits, computed in steps so that a hashing service
// (a worker thread, or virtual-time steps in the simulator) can report progress between blocks.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include <openssl/types.h>

namespace zorvex {

inline constexpr std::int32_t kDefaultHashBlockSize = 262'144;

// The block size for the "Hash Buffer:" list index: 0 262,144; 1 100,000; 2 80,000; 3 30,000;
// no selection or any other index 262,144.
std::int32_t HashBlockSize(std::optional<int> list_index);

// "File Scanner (count): Hashing name [percent%]"; percent = done / size × 100 rounded to the
// nearest whole number, halves to even. A size of 0 or less reads as 100%.
std::string HashProgressLine(std::int64_t count, std::string_view name, std::int64_t done,
                             std::int64_t size);

enum class HashStep { kMore, kDone, kFailed };

// One file, one use: Open, Step until it stops returning kMore, then Finish.
class FileHasher {
 public:
  // The block size is fixed for this file; a changed setting applies from the next file on.
  explicit FileHasher(std::int32_t block_size = kDefaultHashBlockSize);
  ~FileHasher();
  FileHasher(const FileHasher&) = delete;
  FileHasher& operator=(const FileHasher&) = delete;

  // Fails for a missing file, anything but a regular file (directories, pipes, devices), a file
  // that cannot be opened, and files of 2 GiB or more (sizes are signed 32-bit).
  bool Open(const std::filesystem::path& path);

  // Reads and digests the next block, the tail, or the whole file when it is smaller than one
  // block. A short read fails; so does a file whose size differs from its size at Open once the
  // last byte is read.
  HashStep Step();

  // The digest text once every step succeeded, else empty. Closes the file; may be repeated.
  std::string Finish();

  const std::string& name() const { return name_; }  // the file-name part, for the progress line
  std::int32_t size() const { return size_; }
  std::int64_t bytes_done() const { return done_; }
  bool failed() const { return state_ == State::kFailed; }
  bool finished() const { return state_ == State::kFinished; }

 private:
  enum class State { kIdle, kReading, kFinished, kFailed };

  HashStep Fail();
  bool OpenFile(const std::filesystem::path& path);
  bool ReadExactly(std::size_t count);
  void Close();

  std::int32_t block_size_;
  State state_ = State::kIdle;
  int fd_ = -1;
  std::string name_;
  std::int32_t size_ = 0;
  std::int64_t done_ = 0;
  std::string buffer_;
  std::string digest_;
  EVP_MD_CTX* context_ = nullptr;
};

// Runs every step at once; empty on any failure.
std::string HashFileNow(const std::filesystem::path& path,
                        std::int32_t block_size = kDefaultHashBlockSize);

}  // namespace zorvex
