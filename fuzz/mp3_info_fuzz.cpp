// File heads of any shape give a description or nothing, never a crash.
#include <cstdint>
#include <cstring>
#include <string_view>

#include "share/mp3_info.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 8) return 0;
  std::int64_t length = 0;
  std::memcpy(&length, data, sizeof length);
  const std::string_view head(reinterpret_cast<const char*>(data) + 8, size - 8);
  (void)zorvex::DescribeMp3(head, length);
  return 0;
}
