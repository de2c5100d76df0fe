#include "core/rc4.h"

#include <gtest/gtest.h>

#include <string>

#include "core/hex.h"

namespace zorvex {
namespace {

// One cipher for all: each keyed call starts afresh, whatever came before.
TEST(Rc4Test, MatchesPublishedKeystreamVectors) {
  Rc4 cipher;
  EXPECT_EQ(EnHex(cipher.RC4String("Plaintext", "Key")), "BBF316E8D940AF0AD3");
  EXPECT_EQ(EnHex(cipher.RC4String("pedia", "Wiki")), "1021BF0420");
  EXPECT_EQ(EnHex(cipher.RC4String("Attack at dawn", "Secret")), "45A01F645FC35B383552544B9BF5");
  EXPECT_EQ(EnHex(cipher.RC4String("Plaintext", "Key")), "BBF316E8D940AF0AD3");
}

// Every keyed call starts a fresh stream, so the same key twice restores the text; an empty key
// goes on with the stream, and key bytes past 256 play no part.
TEST(Rc4Test, KeysStartFreshStreamsAnEmptyKeyContinues) {
  Rc4 cipher;
  const std::string text("ConnectNew:a|b~c\0\xff", 18);
  const std::string sealed = cipher.RC4String(text, kMessageKey);
  EXPECT_NE(sealed, text);
  EXPECT_EQ(sealed.size(), text.size());
  EXPECT_EQ(cipher.RC4String(sealed, kMessageKey), text);
  EXPECT_EQ(cipher.RC4String(text, kMessageKey), sealed);
  EXPECT_EQ(Rc4().RC4String(text, kMessageKey), sealed);

  const std::string head = cipher.RC4String("Plain", "Key");
  EXPECT_EQ(head + cipher.RC4String("text", ""), Rc4().RC4String("Plaintext", "Key"));
  const std::string key(256, 'k');
  EXPECT_EQ(Rc4().RC4String("data", key + "IGNORED"), Rc4().RC4String("data", key));
}

}  // namespace
}  // namespace zorvex
