#pragma once
// An MD5 digest that can be copied mid-way, so that a digest taken up to some byte can be kept
// and continued later, and continued on another thread.

#include <cstdint>
#include <string>
#include <string_view>

#include <openssl/types.h>

namespace zorvex {

class Md5 {
 public:
  Md5();
  ~Md5();
  Md5(const Md5& other);
  Md5& operator=(const Md5& other);
  Md5(Md5&& other) noexcept;
  Md5& operator=(Md5&& other) noexcept;

  void Update(std::string_view bytes);
  // Bytes digested so far.
  std::int64_t length() const { return length_; }
  // The digest of what was given so far as 32 upper-case hex digits; the state goes on unchanged.
  // Empty if the library failed at any point.
  std::string Hex() const;

 private:
  EVP_MD_CTX* context_ = nullptr;
  std::int64_t length_ = 0;
  bool failed_ = false;
};

}  // namespace zorvex
