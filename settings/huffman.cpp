#include "settings/huffman.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <fstream>
#include <iterator>
#include <limits>
#include <system_error>

#include "core/hex.h"

namespace zorvex {

HuffmanError::HuffmanError(std::string source, std::string description)
    : std::runtime_error(source + ": " + description),
      source_(std::move(source)),
      description_(std::move(description)) {}

namespace {

constexpr std::size_t kHeaderSize = 11;
constexpr std::size_t kMaxNodes = 511;
constexpr char kDecodeSource[] = "HuffmanDecode()";
constexpr char kChecksumSource[] = "clsHuffman.Decode()";

[[noreturn]] void ThrowIdentification() {
  throw HuffmanError(kDecodeSource,
                     "The data either was not compressed with HE3 or is corrupt "
                     "(identification string not found)");
}

[[noreturn]] void ThrowDamaged() {
  throw HuffmanError(kDecodeSource, "The data is corrupt (damaged code table or data)");
}

// Reports whole percentages, halves to even, only when they change.
class ProgressReporter {
 public:
  explicit ProgressReporter(const HuffmanProgress& sink) : sink_(sink) {}

  void Sample(double numerator, double denominator, double scale, double offset) {
    if (!sink_) return;
    const int value = static_cast<int>(std::nearbyint(numerator / denominator * scale + offset));
    Report(value);
  }
  void Finish() { Report(100); }

 private:
  void Report(int value) {
    if (!sink_ || value == last_) return;
    last_ = value;
    sink_(value);
  }

  const HuffmanProgress& sink_;
  int last_ = 0;
};

struct Node {
  std::int16_t parent = -1;
  std::int16_t one = -1;   // child for bit 1
  std::int16_t zero = -1;  // child for bit 0
  std::int16_t value = -1;
  std::int32_t weight = 0;
};

// Code bits in order, first bit (the root's decision) first.
using Code = std::vector<std::uint8_t>;

// Picks the two parentless nodes to merge; equal weights keep the node met first.
std::pair<int, int> PickPair(const std::vector<Node>& nodes) {
  int first = -1;
  int second = -1;
  for (int idx = 0; idx < static_cast<int>(nodes.size()); ++idx) {
    if (nodes[idx].parent != -1) continue;
    const auto w = nodes[idx].weight;
    if (first == -1) {
      first = idx;
    } else if (second == -1) {
      second = idx;
    } else if (w < nodes[first].weight) {
      if (w < nodes[second].weight) {
        if (nodes[first].weight < nodes[second].weight) {
          second = idx;
        } else {
          first = idx;
        }
      } else {
        first = idx;
      }
    } else if (w < nodes[second].weight) {
      second = idx;
    }
  }
  return {first, second};
}

std::array<Code, 256> BuildCodes(const std::array<std::uint32_t, 256>& counts) {
  std::vector<Node> nodes;
  nodes.reserve(kMaxNodes);
  for (int value = 0; value < 256; ++value) {
    if (counts[value] == 0) continue;
    Node leaf;
    leaf.value = static_cast<std::int16_t>(value);
    leaf.weight = static_cast<std::int32_t>(counts[value]);
    nodes.push_back(leaf);
  }
  const std::size_t leaves = nodes.size();
  for (std::size_t merge = 1; merge < leaves; ++merge) {
    const auto [first, second] = PickPair(nodes);
    Node inner;
    // Weights are occurrence counts of an input below 2^31 bytes, so the sum fits.
    inner.weight = nodes[first].weight + nodes[second].weight;
    inner.zero = static_cast<std::int16_t>(first);
    inner.one = static_cast<std::int16_t>(second);
    const auto index = static_cast<std::int16_t>(nodes.size());
    nodes[first].parent = index;
    nodes[second].parent = index;
    nodes.push_back(inner);
  }

  std::array<Code, 256> codes;
  struct Pending {
    int node;
    Code code;
  };
  std::vector<Pending> stack;
  stack.push_back({static_cast<int>(nodes.size()) - 1, {}});
  while (!stack.empty()) {
    Pending item = std::move(stack.back());
    stack.pop_back();
    const Node& node = nodes[item.node];
    if (node.value != -1) {
      codes[node.value] = std::move(item.code);
      continue;
    }
    Code one = item.code;
    one.push_back(1);
    item.code.push_back(0);
    stack.push_back({node.one, std::move(one)});
    stack.push_back({node.zero, std::move(item.code)});
  }
  return codes;
}

// Packs bits from the least significant bit of each byte upwards.
class BitWriter {
 public:
  explicit BitWriter(std::string& out) : out_(out) {}
  void Put(std::uint8_t bit) {
    current_ |= static_cast<std::uint8_t>(bit << used_);
    if (++used_ == 8) Flush();
  }
  void Finish() {
    if (used_ > 0) Flush();
  }

 private:
  void Flush() {
    out_.push_back(static_cast<char>(current_));
    current_ = 0;
    used_ = 0;
  }
  std::string& out_;
  std::uint8_t current_ = 0;
  int used_ = 0;
};

std::string StoredContainer(std::string_view input) {
  std::string out = "HE0\r";
  out.append(input);
  return out;
}

void PutLittleEndian(std::string& out, std::uint32_t value, int bytes) {
  for (int b = 0; b < bytes; ++b)
    out.push_back(static_cast<char>((value >> (8 * b)) & 0xFF));
}

std::uint32_t GetLittleEndian(std::string_view in, std::size_t offset, int bytes) {
  std::uint32_t value = 0;
  for (int b = bytes - 1; b >= 0; --b) {
    value = (value << 8) | static_cast<unsigned char>(in[offset + b]);
  }
  return value;
}

}  // namespace

std::string HuffmanEncode(std::string_view input, const HuffmanProgress& progress) {
  const std::size_t n = input.size();
  // The HE3 length field is signed 32-bit; anything longer can only be stored.
  if (n == 0 || n > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) {
    return StoredContainer(input);
  }
  ProgressReporter reporter(progress);
  const double total = static_cast<double>(n);

  std::array<std::uint32_t, 256> counts{};
  for (std::size_t i = 0; i < n; ++i) {
    if (i % 1000 == 0) reporter.Sample(static_cast<double>(i), total, 7, 0);
    ++counts[static_cast<unsigned char>(input[i])];
  }
  const auto codes = BuildCodes(counts);

  std::uint64_t data_bits = 0;
  std::uint64_t table_bits = 0;
  int distinct = 0;
  for (int value = 0; value < 256; ++value) {
    if (counts[value] == 0) continue;
    ++distinct;
    data_bits += static_cast<std::uint64_t>(counts[value]) * codes[value].size();
    table_bits += codes[value].size();
  }
  const std::uint64_t data_bytes = (data_bits + 7) / 8;
  if (data_bytes == 0 || data_bytes > n) return StoredContainer(input);

  std::uint8_t checksum = 0;
  for (std::size_t i = 0; i < n; ++i) {
    if (i % 10000 == 0) reporter.Sample(static_cast<double>(i), total, 5, 7);
    checksum ^= static_cast<std::uint8_t>(input[i]);
  }

  std::string out;
  out.reserve(kHeaderSize + 2 * distinct + (table_bits + 7) / 8 + data_bytes);
  out.append("HE3\r");
  out.push_back(static_cast<char>(checksum));
  PutLittleEndian(out, static_cast<std::uint32_t>(n), 4);
  PutLittleEndian(out, static_cast<std::uint32_t>(distinct), 2);
  for (int value = 0; value < 256; ++value) {
    if (counts[value] == 0) continue;
    out.push_back(static_cast<char>(value));
    out.push_back(static_cast<char>(codes[value].size()));
  }
  {
    BitWriter table(out);
    for (int value = 0; value < 256; ++value) {
      for (auto bit : codes[value])
        table.Put(bit);
    }
    table.Finish();
  }
  {
    BitWriter data(out);
    for (std::size_t i = 0; i < n; ++i) {
      if (i % 10000 == 0) reporter.Sample(static_cast<double>(i), total, 88, 12);
      for (auto bit : codes[static_cast<unsigned char>(input[i])])
        data.Put(bit);
    }
    data.Finish();
  }
  reporter.Finish();
  return out;
}

std::string HuffmanDecode(std::string_view in, const HuffmanProgress& progress) {
  const std::size_t m = in.size();
  if (m < 4 || in[0] != 'H' || in[1] != 'E' || in[3] != '\r') ThrowIdentification();
  if (in[2] == '0') return std::string(in.substr(4));
  if (in[2] != '3') ThrowIdentification();
  if (m < kHeaderSize) ThrowDamaged();

  const auto checksum = static_cast<std::uint8_t>(in[4]);
  const auto n = static_cast<std::int32_t>(GetLittleEndian(in, 5, 4));
  const auto k = static_cast<std::int16_t>(GetLittleEndian(in, 9, 2));
  if (n < 0 || k < 0 || k > 256) ThrowDamaged();
  const std::size_t pairs_end = kHeaderSize + 2 * static_cast<std::size_t>(k);
  if (pairs_end > m) ThrowDamaged();

  // Rebuild the tree from the code table; every structural fault is an error.
  std::vector<Node> nodes(1);
  nodes.reserve(kMaxNodes);
  std::size_t bit_pos = pairs_end * 8;
  int previous_value = -1;
  for (int pair = 0; pair < k; ++pair) {
    const int value = static_cast<unsigned char>(in[kHeaderSize + 2 * pair]);
    const int length = static_cast<unsigned char>(in[kHeaderSize + 2 * pair + 1]);
    if (value <= previous_value || length == 0) ThrowDamaged();
    previous_value = value;
    if (bit_pos + static_cast<std::size_t>(length) > m * 8) ThrowDamaged();
    int current = 0;
    for (int b = 0; b < length; ++b, ++bit_pos) {
      if (nodes[current].value != -1) ThrowDamaged();
      const bool one = (static_cast<unsigned char>(in[bit_pos / 8]) >> (bit_pos % 8)) & 1;
      std::int16_t& child = one ? nodes[current].one : nodes[current].zero;
      if (child == -1) {
        if (nodes.size() >= kMaxNodes) ThrowDamaged();
        child = static_cast<std::int16_t>(nodes.size());
        Node fresh;
        fresh.parent = static_cast<std::int16_t>(current);
        nodes.push_back(fresh);
      }
      current = child;
    }
    Node& leaf = nodes[current];
    if (leaf.value != -1 || leaf.one != -1 || leaf.zero != -1) ThrowDamaged();
    leaf.value = static_cast<std::int16_t>(value);
  }

  ProgressReporter reporter(progress);
  const std::size_t data_start = (bit_pos + 7) / 8;
  const auto wanted = static_cast<std::size_t>(n);
  std::string out;
  // Every byte emitted takes at least one bit, which bounds the allocation by the input.
  out.reserve(std::min(wanted, (m - std::min(m, data_start)) * 8));
  int current = 0;
  for (std::size_t pos = data_start; pos < m && out.size() < wanted; ++pos) {
    if ((pos + 1) % 10000 == 0) {
      reporter.Sample(static_cast<double>(pos + 1), static_cast<double>(m), 89, 0);
    }
    const auto byte = static_cast<unsigned char>(in[pos]);
    for (int b = 0; b < 8; ++b) {
      const int next = ((byte >> b) & 1) ? nodes[current].one : nodes[current].zero;
      if (next == -1) ThrowDamaged();
      if (nodes[next].value != -1) {
        out.push_back(static_cast<char>(nodes[next].value));
        current = 0;
        if (out.size() == wanted) break;
      } else {
        current = next;
      }
    }
  }
  if (out.size() != wanted) ThrowDamaged();

  std::uint8_t sum = 0;
  const double emitted = static_cast<double>(out.size());
  for (std::size_t i = 0; i < out.size(); ++i) {
    if (i % 10000 == 0) reporter.Sample(static_cast<double>(i), emitted, 11, 89);
    sum ^= static_cast<std::uint8_t>(out[i]);
  }
  if (sum != checksum) {
    throw HuffmanError(kChecksumSource,
                       "The data might be corrupted (checksum did not match expected value)");
  }
  reporter.Finish();
  return out;
}

namespace {

std::string_view AsText(const std::vector<std::uint8_t>& data, std::size_t byte_len) {
  return {reinterpret_cast<const char*>(data.data()), std::min(byte_len, data.size())};
}

void Replace(std::vector<std::uint8_t>& data, const std::string& bytes) {
  data.assign(bytes.begin(), bytes.end());
}

std::string ReadWholeFile(const std::filesystem::path& path, const char* source) {
  std::ifstream file(path, std::ios::binary);
  if (!file) throw HuffmanError(source, "Source file does not exist");
  return std::string(std::istreambuf_iterator<char>(file), {});
}

void WriteWholeFile(const std::filesystem::path& path, const std::string& bytes,
                    const char* source) {
  std::error_code ignored;
  std::filesystem::remove(path, ignored);
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!file.flush()) throw HuffmanError(source, "Destination file could not be written");
}

}  // namespace

void Huffman::EncodeByte(std::vector<std::uint8_t>& data, std::size_t byte_len) {
  Replace(data, HuffmanEncode(AsText(data, byte_len), progress_));
}

void Huffman::DecodeByte(std::vector<std::uint8_t>& data, std::size_t byte_len) {
  Replace(data, HuffmanDecode(AsText(data, byte_len), progress_));
}

std::string Huffman::EncodeString(std::string_view text, bool hexed) {
  std::string container = HuffmanEncode(text, progress_);
  return hexed ? EnHex(container) : container;
}

std::string Huffman::DecodeString(std::string_view text, bool hexed) {
  if (hexed) return HuffmanDecode(DeHex(text), progress_);
  return HuffmanDecode(text, progress_);
}

void Huffman::EncodeFile(const std::filesystem::path& source, const std::filesystem::path& dest) {
  constexpr char kSource[] = "clsHuffman.EncodeFile()";
  WriteWholeFile(dest, HuffmanEncode(ReadWholeFile(source, kSource), progress_), kSource);
}

void Huffman::DecodeFile(const std::filesystem::path& source, const std::filesystem::path& dest) {
  constexpr char kSource[] = "clsHuffman.DecodeFile()";
  WriteWholeFile(dest, HuffmanDecode(ReadWholeFile(source, kSource), progress_), kSource);
}

}  // namespace zorvex
