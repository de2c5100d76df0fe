// Any container decodes to bytes or fails with HuffmanError; what decodes re-encodes to
// something that decodes to the same bytes.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "settings/huffman.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  std::string decoded;
  try {
    decoded = zorvex::HuffmanDecode(input);
  } catch (const zorvex::HuffmanError&) {
    return 0;
  }
  if (zorvex::HuffmanDecode(zorvex::HuffmanEncode(decoded)) != decoded) std::abort();
  // Encoding arbitrary bytes must round-trip too.
  if (zorvex::HuffmanDecode(zorvex::HuffmanEncode(input)) != input) std::abort();
  return 0;
}
