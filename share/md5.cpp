#include "share/md5.h"

#include <array>
#include <utility>

#include <openssl/evp.h>

namespace zorvex {

Md5::Md5() : context_(EVP_MD_CTX_new()) {
  failed_ = context_ == nullptr || EVP_DigestInit_ex(context_, EVP_md5(), nullptr) != 1;
}

Md5::~Md5() {
  EVP_MD_CTX_free(context_);
}

Md5::Md5(const Md5& other)
    : context_(EVP_MD_CTX_new()), length_(other.length_), failed_(other.failed_) {
  if (context_ == nullptr || other.context_ == nullptr ||
      EVP_MD_CTX_copy_ex(context_, other.context_) != 1) {
    failed_ = true;
  }
}

Md5& Md5::operator=(const Md5& other) {
  if (this != &other) {
    Md5 copy(other);
    *this = std::move(copy);
  }
  return *this;
}

Md5::Md5(Md5&& other) noexcept
    : context_(std::exchange(other.context_, nullptr)),
      length_(other.length_),
      failed_(std::exchange(other.failed_, true)) {}

Md5& Md5::operator=(Md5&& other) noexcept {
  std::swap(context_, other.context_);
  std::swap(length_, other.length_);
  std::swap(failed_, other.failed_);
  return *this;
}

void Md5::Update(std::string_view bytes) {
  if (bytes.empty()) return;
  if (failed_ || EVP_DigestUpdate(context_, bytes.data(), bytes.size()) != 1) failed_ = true;
  length_ += static_cast<std::int64_t>(bytes.size());
}

std::string Md5::Hex() const {
  if (failed_) return {};
  Md5 copy(*this);
  std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
  unsigned int size = 0;
  if (copy.failed_ || EVP_DigestFinal_ex(copy.context_, digest.data(), &size) != 1 || size != 16) {
    return {};
  }
  static constexpr char kHexDigits[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(32);
  for (unsigned int i = 0; i < size; ++i) {
    out.push_back(kHexDigits[digest[i] >> 4]);
    out.push_back(kHexDigits[digest[i] & 15]);
  }
  return out;
}

}  // namespace zorvex
