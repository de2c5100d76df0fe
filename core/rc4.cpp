#include "core/rc4.h"

#include <numeric>
#include <utility>

namespace zorvex {

void Rc4::Schedule(std::string_view key) {
  i_ = 0;
  j_ = 0;
  keyed_ = true;
  if (key == scheduled_key_) {
    s_ = scheduled_;
    return;
  }
  std::iota(s_.begin(), s_.end(), std::uint8_t{0});
  std::uint8_t j = 0;
  for (std::size_t i = 0; i < 256; ++i) {
    j = static_cast<std::uint8_t>(j + s_[i] + static_cast<std::uint8_t>(key[i % key.size()]));
    std::swap(s_[i], s_[j]);
  }
  scheduled_ = s_;
  scheduled_key_ = key;
}

void Rc4::RC4(std::span<std::uint8_t> data, std::string_view key) {
  if (!key.empty()) {
    Schedule(key);
  } else if (!keyed_) {
    // An object never keyed holds the all-zero state; the identity permutation is the closest
    // well-defined equivalent and keeps the stream a permutation-based one.
    std::iota(s_.begin(), s_.end(), std::uint8_t{0});
    keyed_ = true;
  }
  std::uint8_t i = i_;
  std::uint8_t j = j_;
  for (auto& byte : data) {
    i = static_cast<std::uint8_t>(i + 1);
    j = static_cast<std::uint8_t>(j + s_[i]);
    std::swap(s_[i], s_[j]);
    byte ^= s_[static_cast<std::uint8_t>(s_[i] + s_[j])];
  }
  i_ = i;
  j_ = j;
}

std::string Rc4::RC4String(std::string_view text, std::string_view key) {
  std::string out(text);
  RC4(std::span(reinterpret_cast<std::uint8_t*>(out.data()), out.size()), key);
  return out;
}

}  // namespace zorvex
