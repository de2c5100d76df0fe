#include "settings/huffman.h"

#include <gtest/gtest.h>

#include <random>
#include <set>
#include <string>
#include <vector>

#include "core/hex.h"
#include "support/temp_dir.h"

namespace zorvex {
namespace {

std::string Bytes(std::initializer_list<int> values) {
  std::string out;
  for (int v : values)
    out.push_back(static_cast<char>(v));
  return out;
}

TEST(HuffmanVectorsTest, KnownContainers) {
  // Fewer than two distinct values are stored as they are, after "HE0\r".
  const std::vector<std::pair<std::string, std::string>> hex = {
      {"", "4845300D"},
      {"1", "4845300D31"},
      {"aaaa", "4845300D61616161"},
      {"abc", "4845330D600300000003006102620263010D0D"},
      {"5503", "4845330D030400000003003002330235010D34"},
  };
  Huffman codec;
  for (const auto& [plain, container] : hex) {
    EXPECT_EQ(EnHex(HuffmanEncode(plain)), container);
    EXPECT_EQ(HuffmanDecode(DeHex(container)), plain);
    EXPECT_EQ(codec.EncodeString(plain, true), container);
    EXPECT_EQ(codec.DecodeString(container, true), plain);
  }
  EXPECT_EQ(codec.DecodeString("4845330d030400000003003002330235010d34", true), "5503");
  // The byte form encodes only the first `len` bytes.
  std::vector<std::uint8_t> data = {'a', 'b', 'c', 'x', 'y'};
  codec.EncodeByte(data, 3);
  EXPECT_EQ(std::string(data.begin(), data.end()), HuffmanEncode("abc"));
}

TEST(HuffmanVectorsTest, EveryValueOnceGivesEightBitCodes) {
  // The data is as long as the input, which is not more than the input: still compressed.
  std::string all;
  for (int b = 0; b < 256; ++b)
    all.push_back(static_cast<char>(b));
  const std::string container = HuffmanEncode(all);
  ASSERT_EQ(container.size(), 11u + 512 + 256 + 256);
  EXPECT_EQ(container.substr(0, 11), Bytes({'H', 'E', '3', '\r', 0, 0, 1, 0, 0, 0, 1}));
  for (int b = 0; b < 256; ++b) {
    EXPECT_EQ(static_cast<unsigned char>(container[11 + 2 * b]), b);
    EXPECT_EQ(container[12 + 2 * b], 8);
  }
  EXPECT_EQ(HuffmanDecode(container), all);
  EXPECT_EQ(HuffmanDecode("HE0\r" + all), all);
}

TEST(HuffmanVectorsTest, SkewedInputCompresses) {
  const std::string text = std::string(900, 'a') + std::string(90, 'b') + std::string(10, 'c');
  const std::string container = HuffmanEncode(text);
  ASSERT_EQ(container.substr(0, 4), "HE3\r");
  // 900 one-bit codes and 100 two-bit codes: 1100 bits.
  EXPECT_EQ(container.size(), 11u + 2 * 3 + 1 + 138);
  EXPECT_EQ(HuffmanDecode(container), text);
}

class HuffmanRoundTripTest : public ::testing::TestWithParam<int> {};

TEST_P(HuffmanRoundTripTest, DecodeOfEncodeIsTheInput) {
  const int distinct = GetParam();
  std::mt19937 random(static_cast<unsigned>(distinct) * 7919u);
  const std::size_t lengths[] = {0, 1, 2, 3, 17, 255, 1000, 4099, 10001, 100000};
  for (std::size_t length : lengths) {
    std::string input(length, '\0');
    // Every value once where the length allows, then a skewed mix that gives codes of many
    // lengths; 37 is odd, so v * 37 % 256 keeps the values distinct.
    std::geometric_distribution<int> pick(0.05);
    for (std::size_t i = 0; i < length; ++i) {
      const int v =
          i < static_cast<std::size_t>(distinct) ? static_cast<int>(i) : pick(random) % distinct;
      input[i] = static_cast<char>(v * 37 % 256);
    }
    if (length >= static_cast<std::size_t>(distinct)) {
      ASSERT_EQ(std::set<char>(input.begin(), input.end()).size(),
                static_cast<std::size_t>(distinct));
    }
    std::vector<std::uint8_t> data(input.begin(), input.end());
    Huffman codec;
    codec.EncodeByte(data, data.size());
    codec.DecodeByte(data, data.size());
    ASSERT_EQ(std::string(data.begin(), data.end()), input) << "length " << length;
  }
}

INSTANTIATE_TEST_SUITE_P(DistinctByteCounts, HuffmanRoundTripTest, ::testing::Range(1, 257));

TEST(HuffmanRoundTripTest, DeepestPossibleTree) {
  // Fibonacci weights make every merge take the newest node: codes up to 255 bits long.
  std::string input;
  std::uint64_t a = 1;
  std::uint64_t b = 1;
  for (int value = 0; value < 30; ++value) {
    input.append(static_cast<std::size_t>(a), static_cast<char>(value));
    const std::uint64_t next = a + b;
    a = b;
    b = next;
  }
  const std::string container = HuffmanEncode(input);
  ASSERT_EQ(container.substr(0, 4), "HE3\r");
  EXPECT_EQ(static_cast<unsigned char>(container[11 + 1]), 29u);  // value 0: longest code
  EXPECT_EQ(HuffmanDecode(container), input);
}

// Decoding fails with exactly this error and leaves the input as it was.
void ExpectDecodeError(const std::string& container, std::int32_t number, const std::string& source,
                       const std::string& description) {
  SCOPED_TRACE(EnHex(container));
  std::vector<std::uint8_t> data(container.begin(), container.end());
  Huffman codec;
  try {
    codec.DecodeByte(data, data.size());
    ADD_FAILURE() << "no error for " << EnHex(container);
  } catch (const HuffmanError& error) {
    EXPECT_EQ(error.number(), number);
    EXPECT_EQ(error.source(), source);
    EXPECT_EQ(error.description(), description);
  }
  EXPECT_EQ(std::string(data.begin(), data.end()), container);
}

TEST(HuffmanErrorTest, IdentificationAndChecksumErrors) {
  for (const char* container :
       {"", "HE0", "HE1\rabc", "HE4\rabc", "he0\rabc", "HE0\nabc", "XYZW"}) {
    ExpectDecodeError(container, -2147221504, "HuffmanDecode()",
                      "The data either was not compressed with HE3 or is corrupt (identification "
                      "string not found)");
  }
  std::string container = HuffmanEncode("Nickname=Bob");
  ASSERT_EQ(container.substr(0, 4), "HE3\r");
  container[4] ^= 0x5A;
  ExpectDecodeError(container, static_cast<std::int32_t>(0x80040000u), "clsHuffman.Decode()",
                    "The data might be corrupted (checksum did not match expected value)");
}

TEST(HuffmanErrorTest, DamagedContainersAreErrorsNeverPartialResults) {
  const std::string good = HuffmanEncode("The quick brown fox jumps over the lazy dog");
  ASSERT_EQ(good.substr(0, 4), "HE3\r");
  std::vector<std::string> damaged;
  for (std::size_t cut = 4; cut < good.size(); ++cut)
    damaged.push_back(good.substr(0, cut));
  std::string huge_length = good;
  huge_length[8] = 0x7F;  // claims about 2 GiB of output
  damaged.push_back(huge_length);
  std::string negative_length = good;
  negative_length[8] = static_cast<char>(0x80);
  damaged.push_back(negative_length);
  std::string too_many_values = good;
  too_many_values[9] = 0x01;
  too_many_values[10] = 0x01;  // k = 257
  damaged.push_back(too_many_values);
  std::string zero_length_code = good;
  zero_length_code[12] = 0;
  damaged.push_back(zero_length_code);
  std::string unordered = good;
  std::swap(unordered[11], unordered[13]);
  damaged.push_back(unordered);
  // Two values with the same one-bit code 0.
  damaged.push_back(
      Bytes({'H', 'E', '3', '\r', 0x00, 0x01, 0, 0, 0, 0x02, 0x00, 'a', 1, 'b', 1, 0x00, 0x00}));
  // A data bit leading where no code goes.
  damaged.push_back(
      Bytes({'H', 'E', '3', '\r', 'a', 0x02, 0, 0, 0, 0x01, 0x00, 'a', 1, 0x00, 0x02}));
  for (const auto& container : damaged) {
    EXPECT_THROW(HuffmanDecode(container), HuffmanError) << EnHex(container);
  }
}

TEST(HuffmanProgressTest, ReportsChangesEndingAtOneHundredAndNothingForStoredValues) {
  std::string input;
  std::mt19937 random(5);
  for (int i = 0; i < 200000; ++i)
    input.push_back(static_cast<char>('a' + random() % 6));
  std::vector<int> encoding;
  Huffman codec;
  codec.SetProgress([&](int percent) { encoding.push_back(percent); });
  const std::string hex = codec.EncodeString(input, true);
  ASSERT_FALSE(encoding.empty());
  EXPECT_EQ(encoding.back(), 100);
  for (std::size_t i = 1; i < encoding.size(); ++i)
    EXPECT_GT(encoding[i], encoding[i - 1]);
  // Counting reaches 7 percent, the checksum pass 12, packing the rest.
  EXPECT_NE(std::find(encoding.begin(), encoding.end(), 7), encoding.end());
  EXPECT_NE(std::find(encoding.begin(), encoding.end(), 12), encoding.end());

  std::vector<int> decoding;
  codec.SetProgress([&](int percent) { decoding.push_back(percent); });
  EXPECT_EQ(codec.DecodeString(hex, true), input);
  ASSERT_FALSE(decoding.empty());
  EXPECT_EQ(decoding.back(), 100);
  EXPECT_NE(std::find(decoding.begin(), decoding.end(), 89), decoding.end());

  // Stored values report nothing, small ones the first samples.
  std::vector<int> seen;
  codec.SetProgress([&](int percent) { seen.push_back(percent); });
  codec.EncodeString("aaaa", false);
  EXPECT_TRUE(seen.empty());
  codec.EncodeString("abc", false);
  // The checksum and packing passes sample position 0 at 7 and 12 percent.
  EXPECT_EQ(seen, (std::vector<int>{7, 12, 100}));
}

TEST(HuffmanFileTest, FileFormsRoundTripReplaceTheDestinationAndNeedTheSource) {
  testing::TempDir dir;
  const std::string content = "shared|folders|list|" + std::string(5000, 'z');
  testing::WriteFileBytes(dir / "plain", content);
  testing::WriteFileBytes(dir / "packed", std::string(100000, 'q'));  // longer than the result
  Huffman codec;
  codec.EncodeFile(dir / "plain", dir / "packed");
  EXPECT_EQ(testing::ReadFileBytes(dir / "packed"), HuffmanEncode(content));
  codec.DecodeFile(dir / "packed", dir / "unpacked");
  EXPECT_EQ(testing::ReadFileBytes(dir / "unpacked"), content);

  const auto expect_missing = [&](auto run, const std::string& source) {
    try {
      run();
      FAIL() << source;
    } catch (const HuffmanError& error) {
      EXPECT_EQ(error.source(), source);
      EXPECT_EQ(error.description(), "Source file does not exist");
    }
  };
  // A missing source is an error and writes nothing.
  expect_missing([&] { codec.EncodeFile(dir / "absent", dir / "out"); }, "clsHuffman.EncodeFile()");
  expect_missing([&] { codec.DecodeFile(dir / "absent", dir / "out"); }, "clsHuffman.DecodeFile()");
  EXPECT_FALSE(std::filesystem::exists(dir / "out"));
}

}  // namespace
}  // namespace zorvex
