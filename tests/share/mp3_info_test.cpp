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
void PutXing(std::string& bytes, std::size_t offset, std::uint32_t frames,
             const char* tag = "Xing") {
  bytes.replace(offset + 36, 4, tag);
  bytes[offset + 45] = static_cast<char>(frames >> 16 & 0xFF);
  bytes[offset + 46] = static_cast<char>(frames >> 8 & 0xFF);
  bytes[offset + 47] = static_cast<char>(frames & 0xFF);
}

TEST(DescribeMp3Test, ConstantBitRateDurationAndEveryChannelMode) {
  EXPECT_EQ(DescribeMp3(Stream(0, Header(kMpeg1, 9, 0)), 3600000), "128 Kbit 00:03:45 Stereo");
  EXPECT_EQ(DescribeMp3(Stream(0, Header(kMpeg1, 9, 1)), 3600000),
            "128 Kbit 00:03:45 Joint Stereo");
  EXPECT_EQ(DescribeMp3(Stream(0, Header(kMpeg1, 9, 2)), 3600000), "128 Kbit 00:03:45 2 Chan");
  EXPECT_EQ(DescribeMp3(Stream(0, Header(kMpeg1, 9, 3)), 3600000), "128 Kbit 00:03:45 Mono");
}

TEST(DescribeMp3Test, ConstantBitRateDropsFractionsOfBothDivisions) {
  const std::string head = Stream(0, Header(kMpeg1, 9, 0));
  EXPECT_EQ(DescribeMp3(head, 3615999), "128 Kbit 00:03:45 Stereo");
  EXPECT_EQ(DescribeMp3(head, 3616000), "128 Kbit 00:03:46 Stereo");
  EXPECT_EQ(DescribeMp3(head, 15), "128 Kbit 00:00:00 Stereo");
  EXPECT_EQ(DescribeMp3(head, 0), "128 Kbit 00:00:00 Stereo");
  // 8 kbit/s is one byte per millisecond.
  EXPECT_EQ(DescribeMp3(Stream(0, Header(kMpeg2, 1, 0)), 60000), "8 Kbit 00:01:00 Stereo");
  EXPECT_EQ(DescribeMp3(Stream(0, Header(kMpeg2, 1, 0)), 3600000), "8 Kbit 01:00:00 Stereo");
}

TEST(DescribeMp3Test, BitRateTables) {
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
}

TEST(DescribeMp3Test, VersionByteRanges) {
  // Index 1 is 8 kbit/s for MPEG-2 and 32 kbit/s for MPEG-1.
  for (int b = 242; b <= 247; ++b) {
    EXPECT_EQ(DescribeMp3(Stream(0, Header(static_cast<unsigned char>(b), 1, 0)), 0),
              "8 Kbit 00:00:00 Stereo")
        << b;
  }
  for (int b = 250; b <= 255; ++b) {
    EXPECT_EQ(DescribeMp3(Stream(0, Header(static_cast<unsigned char>(b), 1, 0)), 0),
              "32 Kbit 00:00:00 Stereo")
        << b;
  }
  for (int b : {0, 128, 224, 240, 241, 248, 249}) {
    EXPECT_EQ(DescribeMp3(Stream(0, Header(static_cast<unsigned char>(b), 1, 0)), 0), "") << b;
  }
}

TEST(DescribeMp3Test, TakesTheFirstHeader) {
  std::string bytes = "ID3\xFF\xF0\xFF\xF8" + Header(kMpeg1, 12, 1) + Header(kMpeg1, 9, 0);
  bytes.resize(4096, '\0');
  EXPECT_EQ(DescribeMp3(bytes, 0), "224 Kbit 00:00:00 Joint Stereo");
  // 255 is itself a valid second byte, so a doubled sync byte already starts a header.
  EXPECT_EQ(DescribeMp3("\xFF" + Header(kMpeg1, 9, 3), 0), "320 Kbit 00:00:00 2 Chan");
}

TEST(DescribeMp3Test, HeaderMustStartWithinTheFirst4092Bytes) {
  EXPECT_EQ(DescribeMp3(Stream(4091, Header(kMpeg1, 9, 1)), 3600000),
            "128 Kbit 00:03:45 Joint Stereo");
  EXPECT_EQ(DescribeMp3(Stream(4092, Header(kMpeg1, 9, 1)), 3600000), "");
  EXPECT_EQ(DescribeMp3(Stream(5000, Header(kMpeg1, 9, 1)), 3600000), "");
  EXPECT_EQ(DescribeMp3(std::string(4096, '\xFE'), 4096), "");
  EXPECT_EQ(DescribeMp3(std::string(4096, '\xFF'), 4096), "320 Kbit 00:00:00 Mono");
  EXPECT_EQ(DescribeMp3("", 0), "");
}

TEST(DescribeMp3Test, BytesPastAShortFileReadAsZero) {
  EXPECT_EQ(DescribeMp3("\xFF\xFB", 2), "24 Kbit 00:00:00 Stereo");
  EXPECT_EQ(DescribeMp3("\xFF\xFB\x90", 3), "128 Kbit 00:00:00 Stereo");
  std::string bytes(4091, '\0');
  bytes += "\xFF\xFB";
  EXPECT_EQ(DescribeMp3(bytes, 3000000), "24 Kbit 00:16:40 Stereo");
  // A short file has no "Xing" tag, whatever bytes follow it elsewhere.
  EXPECT_EQ(DescribeMp3(Header(kMpeg1, 9, 0), 16000), "128 Kbit 00:00:01 Stereo");
}

TEST(DescribeMp3Test, VariableBitRateFromTheFrameCount) {
  std::string bytes = Stream(0, Header(kMpeg1, 9, 0));
  PutXing(bytes, 0, 9717);  // 252 seconds
  EXPECT_EQ(DescribeMp3(bytes, 6048000), "192 Kbit (VBR) 00:04:12 Stereo");
  EXPECT_EQ(DescribeMp3(bytes, 6079000), "192 Kbit (VBR) 00:04:12 Stereo");  // 192.98
  EXPECT_EQ(DescribeMp3(bytes, 6079500), "193 Kbit (VBR) 00:04:12 Stereo");
  PutXing(bytes, 0, 9718);
  EXPECT_EQ(DescribeMp3(bytes, 6072000), "192 Kbit (VBR) 00:04:13 Stereo");
}

TEST(DescribeMp3Test, VariableBitRateSecondsCount) {
  // Seconds by frames: 38 frames each, every third second 39, after the first 57 frames.
  const std::vector<std::pair<std::uint32_t, int>> cases = {
      {58, 1}, {95, 1}, {96, 2}, {133, 2}, {134, 3}, {172, 3}, {173, 4}, {210, 4}, {211, 5},
  };
  for (const auto& [frames, seconds] : cases) {
    std::string bytes = Stream(100, Header(kMpeg1, 9, 3));
    PutXing(bytes, 100, frames);
    const std::int64_t length = 16000LL * seconds;  // 128 kbit/s
    EXPECT_EQ(DescribeMp3(bytes, length),
              "128 Kbit (VBR) 00:00:0" + std::to_string(seconds) + " Mono")
        << frames;
  }
}

TEST(DescribeMp3Test, FrameCountUsesAllThreeBytes) {
  std::string bytes = Stream(0, Header(kMpeg1, 9, 0));
  PutXing(bytes, 0, 65593);  // 1710 seconds
  EXPECT_EQ(DescribeMp3(bytes, 213750000), "1000 Kbit (VBR) 00:28:30 Stereo");
}

TEST(DescribeMp3Test, NoWholeSecondLeavesTheChannelModeAlone) {
  for (std::uint32_t frames : {0u, 1u, 56u, 57u}) {
    std::string bytes = Stream(0, Header(kMpeg1, 9, 2));
    PutXing(bytes, 0, frames);
    EXPECT_EQ(DescribeMp3(bytes, 3600000), " 2 Chan") << frames;
  }
}

TEST(DescribeMp3Test, VariableBitRateOf256MiBOrMoreHasNoRateText) {
  std::string bytes = Stream(0, Header(kMpeg1, 9, 1));
  PutXing(bytes, 0, 58);
  EXPECT_EQ(DescribeMp3(bytes, 268435455), "2147483 Kbit (VBR) 00:00:01 Joint Stereo");
  EXPECT_EQ(DescribeMp3(bytes, 268435456), " Joint Stereo");
  EXPECT_EQ(DescribeMp3(bytes, 5000000000), " Joint Stereo");
}

TEST(DescribeMp3Test, TagMustBeExactlyXing) {
  std::string bytes = Stream(0, Header(kMpeg1, 9, 0));
  PutXing(bytes, 0, 9717, "xing");
  EXPECT_EQ(DescribeMp3(bytes, 3600000), "128 Kbit 00:03:45 Stereo");
  PutXing(bytes, 0, 9717, "Info");
  EXPECT_EQ(DescribeMp3(bytes, 3600000), "128 Kbit 00:03:45 Stereo");
  // One byte off is not the tag either.
  std::string shifted = Stream(0, Header(kMpeg1, 9, 0));
  shifted.replace(37, 4, "Xing");
  EXPECT_EQ(DescribeMp3(shifted, 3600000), "128 Kbit 00:03:45 Stereo");
}

TEST(DescribeMp3Test, TagAndCountOnlyInsideTheFirst4096Bytes) {
  // Header at position 4058: the tag would end at 4097, past the window.
  std::string late = Stream(4057, Header(kMpeg1, 9, 0), 8192);
  PutXing(late, 4057, 9717);
  EXPECT_EQ(DescribeMp3(late, 3600000), "128 Kbit 00:03:45 Stereo");
  // Header at position 4057: the tag ends at 4096 but its frame count lies past the window.
  std::string cut = Stream(4056, Header(kMpeg1, 9, 0), 8192);
  PutXing(cut, 4056, 9717);
  EXPECT_EQ(DescribeMp3(cut, 3600000), " Stereo");
  // Header at position 4050: the count's last byte is position 4097.
  std::string last = Stream(4049, Header(kMpeg1, 9, 0), 8192);
  PutXing(last, 4049, 9717);
  EXPECT_EQ(DescribeMp3(last, 3600000), " Stereo");
  // Header at position 4049: everything fits.
  std::string fits = Stream(4048, Header(kMpeg1, 9, 0), 8192);
  PutXing(fits, 4048, 9717);
  EXPECT_EQ(DescribeMp3(fits, 6048000), "192 Kbit (VBR) 00:04:12 Stereo");
}

TEST(DescribeMp3Test, ZeroBitRateIsEmptyEvenWithATag) {
  EXPECT_EQ(DescribeMp3(Stream(0, Header(kMpeg2, 0, 0)), 3600000), "");
  std::string bytes = Stream(0, Header(kMpeg2, 0, 0));
  PutXing(bytes, 0, 9717);
  EXPECT_EQ(DescribeMp3(bytes, 6048000), "");
}

TEST(GetMp3InfoTest, ReadsTheHeadAndLengthOfAFile) {
  testing::TempDir dir;
  const auto song = dir / "song.mp3";
  testing::WriteFileBytes(song, Stream(10, Header(kMpeg1, 9, 1), 100));
  std::filesystem::resize_file(song, 3600000);
  EXPECT_EQ(GetMp3Info(song), "128 Kbit 00:03:45 Joint Stereo");

  const auto vbr = dir / "vbr.mp3";
  std::string bytes = Stream(0, Header(kMpeg1, 9, 0));
  PutXing(bytes, 0, 9717);
  testing::WriteFileBytes(vbr, bytes);
  std::filesystem::resize_file(vbr, 6048000);
  EXPECT_EQ(GetMp3Info(vbr), "192 Kbit (VBR) 00:04:12 Stereo");
}

TEST(GetMp3InfoTest, ShortAndLateHeaderFiles) {
  testing::TempDir dir;
  testing::WriteFileBytes(dir / "tiny.mp3", "\xFF\xFB");
  EXPECT_EQ(GetMp3Info(dir / "tiny.mp3"), "24 Kbit 00:00:00 Stereo");
  testing::WriteFileBytes(dir / "empty.mp3", "");
  EXPECT_EQ(GetMp3Info(dir / "empty.mp3"), "");
  testing::WriteFileBytes(dir / "tagged.mp3", Stream(4092, Header(kMpeg1, 9, 0), 10000));
  EXPECT_EQ(GetMp3Info(dir / "tagged.mp3"), "");
}

TEST(GetMp3InfoTest, UnreadablePathsGiveEmptyText) {
  testing::TempDir dir;
  EXPECT_EQ(GetMp3Info(dir / "missing.mp3"), "");
  EXPECT_EQ(GetMp3Info(dir.path()), "");
  EXPECT_EQ(GetMp3Info(""), "");
}

}  // namespace
}  // namespace zorvex
