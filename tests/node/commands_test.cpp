#include "node/commands.h"

#include <gtest/gtest.h>

namespace zorvex {
namespace {

TEST(CommandTest, LinkCommands) {
  const std::string hash = "0123456789ABCDEF0123456789ABCDEF";
  EXPECT_EQ(ParseCommand("zx://connect|1.2.3.4/"), Command(ConnectCommand{"1.2.3.4"}));
  EXPECT_EQ(ParseCommand("connect|1.2.3.4"), Command(ConnectCommand{"1.2.3.4"}));
  EXPECT_EQ(ParseCommand("zx://search|free%20music/d"), Command(SearchCommand{"free music"}));
  EXPECT_EQ(ParseCommand("ZX://Get|My%20Song.MP3|1234|" + hash + "|"),
            Command(GetCommand{"my song.mp3", 1234, "0123456789abcdef0123456789abcdef"}));
  EXPECT_EQ(ParseCommand("zx://get|a.mp3|1234|" + hash.substr(1)), Command(InvalidHashSize{}));
  EXPECT_EQ(ParseCommand("zx://get|a.mp3"), Command(InvalidCommand{}));
  EXPECT_EQ(ParseCommand("zx://get|a.mp3|lots|" + hash), Command(InvalidCommand{}));
  EXPECT_EQ(ParseCommand("zx://get|a.mp3|99999999999|" + hash), Command(InvalidCommand{}));
  EXPECT_EQ(ParseCommand("zx://hello|x"), Command(NoCommand{}));
  EXPECT_EQ(ParseCommand("zx://connect"), Command(NoCommand{}));
  EXPECT_EQ(ParseCommand(""), Command(NoCommand{}));
  // Only one trailing "/" is removed, and "/d" only when there is no "/".
  EXPECT_EQ(ParseCommand("search|a//"), Command(SearchCommand{"a/"}));
  EXPECT_EQ(ParseCommand("search|a/d/"), Command(SearchCommand{"a/d"}));
}

}  // namespace
}  // namespace zorvex
