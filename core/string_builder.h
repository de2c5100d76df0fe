#pragma once
// Builds long texts from many small pieces without copying the whole text on every append.

#include <cstddef>
#include <string>
#include <string_view>

namespace zorvex {

class StringBuilder {
 public:
  void ReInit();
  void SConcat(std::string_view text);
  // Returns the text built so far and releases the buffer; the builder is empty afterwards.
  std::string GetString();

  std::size_t size() const { return count_; }

 private:
  std::string buffer_;  // capacity region; the first count_ bytes are the text
  std::size_t count_ = 0;
};

}  // namespace zorvex
