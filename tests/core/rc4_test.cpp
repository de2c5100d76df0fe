#include "core/rc4.h"

#include <gtest/gtest.h>

#include <string>

namespace zorvex {
namespace {

std::string Hex(const std::string& bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out += kDigits[c >> 4];
    out += kDigits[c & 15];
  }
  return out;
}

TEST(Rc4Test, MatchesPublishedKeystreamVectors) {
  Rc4 cipher;
  EXPECT_EQ(Hex(cipher.RC4String("Plaintext", "Key")), "bbf316e8d940af0ad3");
  EXPECT_EQ(Hex(cipher.RC4String("pedia", "Wiki")), "1021bf0420");
  EXPECT_EQ(Hex(cipher.RC4String("Attack at dawn", "Secret")), "45a01f645fc35b383552544b9bf5");
  EXPECT_EQ(Hex(cipher.RC4String("Plaintext", "Key")), "bbf316e8d940af0ad3");
}

TEST(Rc4Test, SameKeyTwiceRestoresTheText) {
  Rc4 cipher;
  const std::string text("ConnectNew:a|b~c\0\xff", 18);
  const std::string sealed = cipher.RC4String(text, kMessageKey);
  EXPECT_NE(sealed, text);
  EXPECT_EQ(sealed.size(), text.size());
  EXPECT_EQ(cipher.RC4String(sealed, kMessageKey), text);
}

TEST(Rc4Test, EveryKeyedCallStartsAFreshStream) {
  Rc4 cipher;
  const std::string first = cipher.RC4String("Ping+", kMessageKey);
  EXPECT_EQ(cipher.RC4String("Ping+", kMessageKey), first);
  Rc4 other;
  EXPECT_EQ(other.RC4String("Ping+", kMessageKey), first);
}

TEST(Rc4Test, EmptyKeyContinuesTheStream) {
  Rc4 split;
  const std::string head = split.RC4String("Plain", "Key");
  const std::string tail = split.RC4String("text", "");
  Rc4 whole;
  EXPECT_EQ(head + tail, whole.RC4String("Plaintext", "Key"));
}

TEST(Rc4Test, KeyLongerThan256BytesUsesItsFirst256) {
  const std::string base(256, 'k');
  Rc4 a;
  Rc4 b;
  EXPECT_EQ(a.RC4String("data", base + "IGNORED"), b.RC4String("data", base));
}

}  // namespace
}  // namespace zorvex
