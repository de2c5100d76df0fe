#include "share/mp3_info.h"

#include <algorithm>
#include <array>
#include <fstream>
#include <limits>
#include <optional>
#include <system_error>

#include "share/format.h"

namespace zorvex {
namespace {

// The first 4096 bytes with 1-based access, as the header rules count positions. Positions past
// the window hold no byte at all; positions past a short file's end read as 0.
class Head {
 public:
  explicit Head(std::string_view bytes)
      : bytes_(bytes.substr(0, std::min(bytes.size(), kMp3HeadSize))) {}

  std::optional<unsigned> At(std::size_t position) const {
    if (position < 1 || position > kMp3HeadSize) return std::nullopt;
    if (position > bytes_.size()) return 0u;
    return static_cast<unsigned char>(bytes_[position - 1]);
  }
  unsigned Byte(std::size_t position) const { return At(position).value_or(0); }

 private:
  std::string_view bytes_;
};

bool IsFrameSecondByte(unsigned b) {
  return (b >= 242 && b <= 247) || b >= 250;
}

int BitRate(bool mpeg2, unsigned index) {
  const int i = static_cast<int>(index);
  if (mpeg2) return i < 8 ? 8 * i : 64 + 16 * (i - 8);
  if (i < 6) return 8 * (i + 3);
  if (i <= 9) return 64 + 16 * (i - 5);
  if (i <= 13) return 128 + 32 * (i - 9);
  return 320;
}

// The duration the encoder's frame count stands for; empty when it is no whole second or the
// length is too large for the 32-bit arithmetic the description has always used.
std::string VbrText(std::int64_t frames, std::int64_t file_length) {
  std::int64_t n = frames - 57;
  std::int64_t count = 0;
  while (n > 0) {
    ++count;
    n -= 38;
    if (count % 3 == 0) --n;
  }
  if (count == 0) return "";
  if (file_length < 0 || file_length > std::numeric_limits<std::int32_t>::max() / 8) return "";
  const std::int64_t kbit = file_length * 8 / (count * 1000);
  return std::to_string(kbit) + " Kbit (VBR) " + FormatDuration(count);
}

std::string_view ChannelText(unsigned mode) {
  static constexpr std::array<std::string_view, 4> kModes = {" Stereo", " Joint Stereo", " 2 Chan",
                                                             " Mono"};
  return kModes[mode & 3];
}

}  // namespace

std::string DescribeMp3(std::string_view bytes, std::int64_t file_length) {
  const Head head(bytes);
  std::size_t p = 0;
  for (std::size_t candidate = 1; candidate <= kMp3HeadSize - 4; ++candidate) {
    if (head.Byte(candidate) == 255 && IsFrameSecondByte(head.Byte(candidate + 1))) {
      p = candidate;
      break;
    }
  }
  if (p == 0) return "";

  const bool mpeg2 = head.Byte(p + 1) <= 247;
  const int kbit = BitRate(mpeg2, head.Byte(p + 2) >> 4);
  if (kbit == 0) return "";

  bool vbr = true;
  for (std::size_t k = 0; k < 4; ++k) {
    const auto byte = head.At(p + 36 + k);
    if (!byte || *byte != static_cast<unsigned char>("Xing"[k])) vbr = false;
  }

  std::string rate;
  if (vbr) {
    const auto b1 = head.At(p + 45);
    const auto b2 = head.At(p + 46);
    const auto b3 = head.At(p + 47);
    // A frame count cut off by the end of the window is unknown, so no duration is claimed.
    if (b1 && b2 && b3) rate = VbrText(*b1 * 65536 + *b2 * 256 + *b3, file_length);
  } else {
    // Every bit rate is a multiple of 8 kbit/s, so kbit / 8 is at least 1 here.
    const std::int64_t seconds = file_length / (kbit / 8) / 1000;
    rate = std::to_string(kbit) + " Kbit " + FormatDuration(seconds);
  }
  return rate + std::string(ChannelText(head.Byte(p + 3) >> 6));
}

std::string GetMp3Info(const std::filesystem::path& path) {
  std::error_code error;
  const auto length = std::filesystem::file_size(path, error);
  if (error || length > static_cast<std::uintmax_t>(std::numeric_limits<std::int64_t>::max())) {
    return "";
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) return "";
  std::string head(kMp3HeadSize, '\0');
  in.read(head.data(), static_cast<std::streamsize>(head.size()));
  if (in.bad()) return "";
  head.resize(static_cast<std::size_t>(in.gcount()));
  return DescribeMp3(head, static_cast<std::int64_t>(length));
}

}  // namespace zorvex
