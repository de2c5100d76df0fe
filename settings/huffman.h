#pragma once
// Byte-oriented Huffman codec with the HE0 (stored) and HE3 (compressed) containers in which the
// preferences store keeps every value. The tie-breaking of the tree build fixes the codes, so the
// bytes produced are part of the file format.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace zorvex {

class HuffmanError : public std::runtime_error {
 public:
  // The base of application-defined errors, negative as a signed 32-bit value.
  static constexpr std::int32_t kNumber = static_cast<std::int32_t>(0x80040000u);

  HuffmanError(std::string source, std::string description);

  std::int32_t number() const { return kNumber; }
  const std::string& source() const { return source_; }
  const std::string& description() const { return description_; }

 private:
  std::string source_;
  std::string description_;
};

// Pure container transforms. HuffmanDecode throws HuffmanError for any damaged container.
using HuffmanProgress = std::function<void(int percent)>;
std::string HuffmanEncode(std::string_view input, const HuffmanProgress& progress = {});
std::string HuffmanDecode(std::string_view container, const HuffmanProgress& progress = {});

class Huffman {
 public:
  // Receives 0..100 while a buffer is encoded or decoded; only changes are reported.
  void SetProgress(HuffmanProgress progress) { progress_ = std::move(progress); }

  // Replace `data` by the container of its first `byte_len` bytes (at most data.size()).
  void EncodeByte(std::vector<std::uint8_t>& data, std::size_t byte_len);
  // Replace `data` by the bytes decoded from its first `byte_len` bytes; on error `data` is
  // left as it was.
  void DecodeByte(std::vector<std::uint8_t>& data, std::size_t byte_len);

  // With `hexed`, the container travels as upper-case hex text (what the INI store writes).
  std::string EncodeString(std::string_view text, bool hexed);
  std::string DecodeString(std::string_view text, bool hexed);

  void EncodeFile(const std::filesystem::path& source, const std::filesystem::path& dest);
  void DecodeFile(const std::filesystem::path& source, const std::filesystem::path& dest);

 private:
  HuffmanProgress progress_;
};

}  // namespace zorvex
