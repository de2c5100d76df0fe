#include "share/mp3_info.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace zorvex {
namespace {

constexpr unsigned char kMpeg1 = 0xFB;  // 251
constexpr unsigned char kMpeg2 = 0xF3;  // 243

// A 4-byte frame header: sync byte, version byte, bit-rate index in the high nibble of the third
// byte, channel mode in the top two bits of the fourth.
std::string Header(unsigned char version, int rate_index, int channel_mode) {
  return {'\xFF', static_cast<char>(version), static_cast<char>(rate_index << 4),
          static_cast<char>(channel_mode << 6)};
}

// `lead` bytes of other data, then a header, padded with zeros to `size` bytes.
std::string Stream(std::size_t lead, const std::string& header, std::size_t size = 4096) {
  std::string bytes(lead, '\x11');
  bytes += header;
  if (bytes.size() < size) bytes.resize(size, '\0');
  return bytes;
}

// Puts an encoder tag and its frame count where a header at 0-based `offset` expects them.
std::string Xing(std::string bytes, std::size_t offset, std::uint32_t frames,
                 const char* tag = "Xing") {
  bytes.replace(offset + 36, 4, tag);
  bytes[offset + 45] = static_cast<char>(frames >> 16 & 0xFF);
  bytes[offset + 46] = static_cast<char>(frames >> 8 & 0xFF);
  bytes[offset + 47] = static_cast<char>(frames & 0xFF);
  return bytes;
}

struct Mp3Case {
  std::string bytes;
  std::int64_t length;
  std::string text;
};

TEST(DescribeMp3Test, HeadersTagsAndLengths) {
  const std::string cbr = Stream(0, Header(kMpeg1, 9, 0));
  std::string first = "ID3\xFF\xF0\xFF\xF8" + Header(kMpeg1, 12, 1) + Header(kMpeg1, 9, 0);
  first.resize(4096, '\0');
  std::string shifted = cbr;  // the tag one byte off
  shifted.replace(37, 4, "Xing");
  const std::vector<Mp3Case> cases = {
      // Constant bit rate: every channel mode, fractions of both divisions dropped.
      {cbr, 3600000, "128 Kbit 00:03:45 Stereo"},
      {Stream(0, Header(kMpeg1, 9, 1)), 3600000, "128 Kbit 00:03:45 Joint Stereo"},
      {Stream(0, Header(kMpeg1, 9, 2)), 3600000, "128 Kbit 00:03:45 2 Chan"},
      {Stream(0, Header(kMpeg1, 9, 3)), 3600000, "128 Kbit 00:03:45 Mono"},
      {cbr, 3615999, "128 Kbit 00:03:45 Stereo"},
      {cbr, 3616000, "128 Kbit 00:03:46 Stereo"},
      {cbr, 15, "128 Kbit 00:00:00 Stereo"},
      {Stream(0, Header(kMpeg2, 1, 0)), 3600000, "8 Kbit 01:00:00 Stereo"},
      // The first header counts; 255 is itself a valid second byte.
      {first, 0, "224 Kbit 00:00:00 Joint Stereo"},
      {"\xFF" + Header(kMpeg1, 9, 3), 0, "320 Kbit 00:00:00 2 Chan"},
      // A header must start within the first 4092 bytes; bytes past a short file read as zero.
      {Stream(4091, Header(kMpeg1, 9, 1)), 3600000, "128 Kbit 00:03:45 Joint Stereo"},
      {Stream(4092, Header(kMpeg1, 9, 1)), 3600000, ""},
      {std::string(4096, '\xFE'), 4096, ""},
      {std::string(4096, '\xFF'), 4096, "320 Kbit 00:00:00 Mono"},
      {"", 0, ""},
      {"\xFF\xFB", 2, "24 Kbit 00:00:00 Stereo"},
      {"\xFF\xFB\x90", 3, "128 Kbit 00:00:00 Stereo"},
      {std::string(4091, '\0') + "\xFF\xFB", 3000000, "24 Kbit 00:16:40 Stereo"},
      {Header(kMpeg1, 9, 0), 16000, "128 Kbit 00:00:01 Stereo"},
      // Variable bit rate from the frame count (all three bytes of it).
      {Xing(cbr, 0, 9717), 6048000, "192 Kbit (VBR) 00:04:12 Stereo"},
      {Xing(cbr, 0, 9717), 6079000, "192 Kbit (VBR) 00:04:12 Stereo"},  // 192.98
      {Xing(cbr, 0, 9717), 6079500, "193 Kbit (VBR) 00:04:12 Stereo"},
      {Xing(cbr, 0, 9718), 6072000, "192 Kbit (VBR) 00:04:13 Stereo"},
      {Xing(cbr, 0, 65593), 213750000, "1000 Kbit (VBR) 00:28:30 Stereo"},
      // 256 MiB or more: no rate text.
      {Xing(Stream(0, Header(kMpeg1, 9, 1)), 0, 58), 268435455,
       "2147483 Kbit (VBR) 00:00:01 Joint Stereo"},
      {Xing(Stream(0, Header(kMpeg1, 9, 1)), 0, 58), 268435456, " Joint Stereo"},
      {Xing(Stream(0, Header(kMpeg1, 9, 1)), 0, 58), 5000000000, " Joint Stereo"},
      // The tag must be exactly "Xing" at its place.
      {Xing(cbr, 0, 9717, "xing"), 3600000, "128 Kbit 00:03:45 Stereo"},
      {Xing(cbr, 0, 9717, "Info"), 3600000, "128 Kbit 00:03:45 Stereo"},
      {shifted, 3600000, "128 Kbit 00:03:45 Stereo"},
      // Tag and count only inside the first 4096 bytes.
      {Xing(Stream(4057, Header(kMpeg1, 9, 0), 8192), 4057, 9717), 3600000,
       "128 Kbit 00:03:45 Stereo"},
      {Xing(Stream(4056, Header(kMpeg1, 9, 0), 8192), 4056, 9717), 3600000, " Stereo"},
      {Xing(Stream(4049, Header(kMpeg1, 9, 0), 8192), 4049, 9717), 3600000, " Stereo"},
      {Xing(Stream(4048, Header(kMpeg1, 9, 0), 8192), 4048, 9717), 6048000,
       "192 Kbit (VBR) 00:04:12 Stereo"},
      // A zero bit rate is empty even with a tag.
      {Stream(0, Header(kMpeg2, 0, 0)), 3600000, ""},
      {Xing(Stream(0, Header(kMpeg2, 0, 0)), 0, 9717), 6048000, ""},
  };
  for (std::size_t i = 0; i < cases.size(); ++i)
    EXPECT_EQ(DescribeMp3(cases[i].bytes, cases[i].length), cases[i].text) << "case " << i;
}

TEST(DescribeMp3Test, BitRateTablesAndVersionByteRanges) {
  const std::vector<std::string> mpeg1 = {"24",  "32",  "40",  "48",  "56",  "64",  "80",  "96",
                                          "112", "128", "160", "192", "224", "256", "320", "320"};
  const std::vector<std::string> mpeg2 = {"",   "8",  "16", "24",  "32",  "40",  "48",  "56",
                                          "64", "80", "96", "112", "128", "144", "160", "176"};
  for (int i = 0; i < 16; ++i) {
    EXPECT_EQ(DescribeMp3(Stream(0, Header(kMpeg1, i, 3)), 0), mpeg1[i] + " Kbit 00:00:00 Mono")
        << "MPEG-1 index " << i;
    const std::string expected = mpeg2[i].empty() ? "" : mpeg2[i] + " Kbit 00:00:00 Mono";
    EXPECT_EQ(DescribeMp3(Stream(0, Header(kMpeg2, i, 3)), 0), expected) << "MPEG-2 index " << i;
  }
  // Index 1 is 8 kbit/s for MPEG-2 (242-247) and 32 kbit/s for MPEG-1 (250-255).
  for (int b = 0; b < 256; ++b) {
    const char* expected = b >= 250               ? "32 Kbit 00:00:00 Stereo"
                           : b >= 242 && b <= 247 ? "8 Kbit 00:00:00 Stereo"
                                                  : "";
    EXPECT_EQ(DescribeMp3(Stream(0, Header(static_cast<unsigned char>(b), 1, 0)), 0), expected)
        << b;
  }
}

TEST(DescribeMp3Test, VariableBitRateSecondsCountOrOnlyTheChannelMode) {
  // Seconds by frames: 38 frames each, every third second 39, after the first 57 frames.
  const std::vector<std::pair<std::uint32_t, int>> cases = {
      {58, 1}, {95, 1}, {96, 2}, {133, 2}, {134, 3}, {172, 3}, {173, 4}, {210, 4}, {211, 5},
  };
  for (const auto& [frames, seconds] : cases) {
    const std::string bytes = Xing(Stream(100, Header(kMpeg1, 9, 3)), 100, frames);
    const std::int64_t length = 16000LL * seconds;  // 128 kbit/s
    EXPECT_EQ(DescribeMp3(bytes, length),
              "128 Kbit (VBR) 00:00:0" + std::to_string(seconds) + " Mono")
        << frames;
  }
  // No whole second leaves the channel mode alone.
  for (std::uint32_t frames : {0u, 1u, 56u, 57u}) {
    const std::string bytes = Xing(Stream(0, Header(kMpeg1, 9, 2)), 0, frames);
    EXPECT_EQ(DescribeMp3(bytes, 3600000), " 2 Chan") << frames;
  }
}

TEST(GetMp3InfoTest, ReadsTheHeadAndLengthOfAFile) {
  testing::TempDir dir;
  const auto info = [&](const std::string& bytes, std::uintmax_t length) {
    testing::WriteFileBytes(dir / "song.mp3", bytes);
    if (length != bytes.size()) std::filesystem::resize_file(dir / "song.mp3", length);
    return GetMp3Info(dir / "song.mp3");
  };
  EXPECT_EQ(info(Stream(10, Header(kMpeg1, 9, 1), 100), 3600000), "128 Kbit 00:03:45 Joint Stereo");
  EXPECT_EQ(info(Xing(Stream(0, Header(kMpeg1, 9, 0)), 0, 9717), 6048000),
            "192 Kbit (VBR) 00:04:12 Stereo");
  EXPECT_EQ(info("\xFF\xFB", 2), "24 Kbit 00:00:00 Stereo");
  EXPECT_EQ(info("", 0), "");
  EXPECT_EQ(info(Stream(4092, Header(kMpeg1, 9, 0), 10000), 10000), "");
  // Unreadable paths.
  EXPECT_EQ(GetMp3Info(dir / "missing.mp3"), "");
  EXPECT_EQ(GetMp3Info(dir.path()), "");
  EXPECT_EQ(GetMp3Info(""), "");
}

}  // namespace
}  // namespace zorvex
