// Transfer connection bytes of any shape, in any split, are read without crashing, without
// buffering for ever and without a name that could leave the download folder.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "transfer/wire.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const std::size_t cut = data[0] % (size);
  const std::string_view bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
  zorvex::HeaderReader header;
  header.Feed(bytes.substr(0, cut));
  header.Feed(bytes.substr(std::min(cut, bytes.size())));
  if (header.state() == zorvex::HeaderReader::State::kDone) {
    (void)zorvex::IsSafeTransferName(header.header().name);
  }
  zorvex::ControlReader control;
  std::size_t words = 0;
  for (std::size_t i = 0; i < bytes.size(); i += 1 + (i % 7)) {
    words += control.Feed(bytes.substr(i, 1 + (i % 7))).size();
  }
  if (words > bytes.size()) std::abort();
  return 0;
}
