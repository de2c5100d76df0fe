#pragma once
// The MD5 of a download's temporary file, taken while the file is written so that the finished
// file needs no second read. A download writes in order but may go back a little: a new
// connection asks again for the last 4096 bytes it holds. The digest therefore keeps its state at
// the last two multiples of 4096 it passed, and going back restarts from the nearest one at or
// below the new write position; the caller digests the file from there up to it again.

#include <cstdint>
#include <string>
#include <string_view>

#include "share/md5.h"

namespace zorvex {

class RunningDigest {
 public:
  static constexpr std::int64_t kCheckpointSpacing = 4096;

  // Bytes digested: the file's first `position()` bytes.
  std::int64_t position() const { return current_.length(); }
  // Digests the bytes that follow position().
  void Update(std::string_view bytes);
  // The file is written again from `offset`: nothing beyond it may count. Afterwards position()
  // is at most `offset`.
  void RewindTo(std::int64_t offset);
  std::string Hex() const { return current_.Hex(); }

 private:
  Md5 current_;
  Md5 newer_;  // at the highest multiple of the spacing not above position()
  Md5 older_;  // at a multiple of the spacing not above newer_, normally one spacing below
};

// Digests a file's bytes from digest.position() up to `end` in blocks: one block per call. The
// file must hold those bytes already.
class FileCatchUp {
 public:
  enum class Step { kMore, kDone, kFailed };
  FileCatchUp(RunningDigest digest, std::int64_t end);
  ~FileCatchUp();
  FileCatchUp(const FileCatchUp&) = delete;
  FileCatchUp& operator=(const FileCatchUp&) = delete;

  bool Open(const std::string& path);
  Step Next();
  RunningDigest& digest() { return digest_; }
  bool failed() const { return failed_; }

 private:
  RunningDigest digest_;
  std::int64_t end_;
  int fd_ = -1;
  bool failed_ = false;
  std::string buffer_;
};

}  // namespace zorvex
