// The two codecs of the wire: hex text and the RC4 stream cipher.
#include <gtest/gtest.h>

#include <string>

#include "core/hex.h"
#include "core/rc4.h"

namespace zorvex {
namespace {

using namespace std::string_literals;

struct HexCase {
  std::string bytes;
  std::string hex;
};

// EnHex writes two upper-case digits per byte; DeHex takes either case, a lone last digit, and
// the valid leading digits of a bad pair.
TEST(HexTest, EnHexWritesUpperCaseDeHexReadsWhatItCan) {
  const HexCase cases[] = {
      {"", ""}, {"abc", "616263"}, {"\x0a", "0A"}, {"\xff", "FF"}, {"\0\x7f"s, "007F"}};
  for (const HexCase& c : cases)
    EXPECT_EQ(EnHex(c.bytes), c.hex) << c.hex;
  const HexCase read[] = {{"", ""},       {"jk", "6a6B"}, {"a\x06", "616"}, {"\0\xff"s, "00FF"},
                          {"\x06", "6Z"}, {"\0"s, "Z6"},  {"\0A"s, "zz41"}, {"\0"s, "G"}};
  for (const HexCase& c : read)
    EXPECT_EQ(DeHex(c.hex), c.bytes) << c.hex;
  std::string all;
  for (int b = 0; b < 256; ++b)
    all.push_back(static_cast<char>(b));
  EXPECT_EQ(DeHex(EnHex(all)), all);
}

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
