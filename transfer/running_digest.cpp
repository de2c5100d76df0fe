#include "transfer/running_digest.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace zorvex {

namespace {
constexpr std::int64_t kCatchUpBlock = 256 * 1024;
}  // namespace

void RunningDigest::Update(std::string_view bytes) {
  const std::int64_t start = position();
  const std::int64_t end = start + static_cast<std::int64_t>(bytes.size());
  const std::int64_t last = end / kCheckpointSpacing * kCheckpointSpacing;
  const std::int64_t before_last = last - kCheckpointSpacing;
  // Only the last two multiples passed are kept; earlier ones would be overwritten at once.
  if (before_last > start) {
    current_.Update(bytes.substr(0, static_cast<std::size_t>(before_last - start)));
    older_ = current_;
    current_.Update(bytes.substr(static_cast<std::size_t>(before_last - start),
                                 static_cast<std::size_t>(kCheckpointSpacing)));
    newer_ = current_;
    current_.Update(bytes.substr(static_cast<std::size_t>(last - start)));
  } else if (last > start) {
    current_.Update(bytes.substr(0, static_cast<std::size_t>(last - start)));
    older_ = std::move(newer_);
    newer_ = current_;
    current_.Update(bytes.substr(static_cast<std::size_t>(last - start)));
  } else {
    current_.Update(bytes);
  }
}

void RunningDigest::RewindTo(std::int64_t offset) {
  if (offset >= position()) return;
  if (newer_.length() <= offset) {
    current_ = newer_;
  } else if (older_.length() <= offset) {
    current_ = older_;
    newer_ = older_;
  } else {
    current_ = Md5();
    newer_ = Md5();
    older_ = Md5();
  }
}

FileCatchUp::FileCatchUp(RunningDigest digest, std::int64_t end)
    : digest_(std::move(digest)), end_(end) {}

FileCatchUp::~FileCatchUp() {
  if (fd_ >= 0) ::close(fd_);
}

bool FileCatchUp::Open(const std::string& path) {
  fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  failed_ = fd_ < 0;
  return !failed_;
}

FileCatchUp::Step FileCatchUp::Next() {
  if (failed_) return Step::kFailed;
  const std::int64_t at = digest_.position();
  if (at >= end_) return Step::kDone;
  const std::int64_t want = std::min(kCatchUpBlock, end_ - at);
  buffer_.resize(static_cast<std::size_t>(want));
  std::int64_t got = 0;
  while (got < want) {
    const ::ssize_t n =
        ::pread(fd_, buffer_.data() + got, static_cast<std::size_t>(want - got), at + got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      failed_ = true;
      return Step::kFailed;
    }
    got += n;
  }
  digest_.Update(buffer_);
  return digest_.position() >= end_ ? Step::kDone : Step::kMore;
}

}  // namespace zorvex
