#include "core/string_builder.h"

#include <algorithm>
#include <cstring>

namespace zorvex {

namespace {
constexpr std::size_t kGrowthStep = 15000;
}

void StringBuilder::ReInit() {
  buffer_.clear();
  buffer_.shrink_to_fit();
  count_ = 0;
}

void StringBuilder::SConcat(std::string_view text) {
  const std::size_t length = text.size();
  if (length == 0) return;
  if (count_ + length >= buffer_.size()) {
    std::size_t grow = length > count_ ? length : kGrowthStep;
    grow = std::max(grow, count_ + length - buffer_.size());
    buffer_.resize(buffer_.size() + grow, '\0');
  }
  std::memcpy(buffer_.data() + count_, text.data(), length);
  count_ += length;
}

std::string StringBuilder::GetString() {
  buffer_.resize(count_);
  std::string out = std::move(buffer_);
  ReInit();
  return out;
}

}  // namespace zorvex
