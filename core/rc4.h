#pragma once
// RC4 stream cipher with a state that persists between calls on one object.

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace zorvex {

class Rc4 {
 public:
  // A non-empty key restarts the cipher from a fresh key schedule; an empty key continues the
  // keystream where the previous call left it.
  void RC4(std::span<std::uint8_t> data, std::string_view key);
  std::string RC4String(std::string_view text, std::string_view key);

 private:
  void Schedule(std::string_view key);

  std::array<std::uint8_t, 256> s_{};
  // The schedule of the last key: every datagram restarts from the same key.
  std::array<std::uint8_t, 256> scheduled_{};
  std::string scheduled_key_;
  std::uint8_t i_ = 0;
  std::uint8_t j_ = 0;
  bool keyed_ = false;
};

// The key every datagram is enciphered with.
inline constexpr std::string_view kMessageKey = "%Tq8!zW2";

}  // namespace zorvex
