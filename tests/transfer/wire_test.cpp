#include "transfer/wire.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

namespace zorvex {
namespace {

using Kind = ControlWord::Kind;

TEST(TransferWireTest, MessagesAsTheySitOnTheWire) {
  EXPECT_EQ(TransferHeader(1000, "song.mp3"), "1000|song.mp3|0");
  EXPECT_EQ(StartMessage("song.mp3", 1025), "Start:song.mp3|1025");
  EXPECT_EQ(PacketMessage(1084), "Packet:1084");
}

TEST(TransferWireTest, ResumeOffsets) {
  EXPECT_EQ(ResumeOffset(0, 100000), 0);
  EXPECT_EQ(ResumeOffset(5120, 100000), 0);
  EXPECT_EQ(ResumeOffset(5121, 100000), 1025);
  EXPECT_EQ(ResumeOffset(10000, 100000), 5904);
  EXPECT_EQ(ResumeOffset(100000, 100000), 100000 - 4096);
  EXPECT_EQ(ResumeOffset(100001, 100000), std::nullopt);
}

TEST(TransferWireTest, OnlyPlainNamesCanBeFiles) {
  EXPECT_TRUE(IsSafeTransferName("song.mp3"));
  EXPECT_TRUE(IsSafeTransferName("..hidden but harmless"));
  const std::vector<std::string_view> bad_names = {
      "", ".", "..", "../etc/passwd", "/etc/passwd", "a/b", std::string_view("a\0b", 3)};
  for (std::string_view bad : bad_names) {
    EXPECT_FALSE(IsSafeTransferName(bad)) << bad;
  }
}

TEST(HeaderReaderTest, WholeSplitAndFollowedByBytes) {
  HeaderReader whole;
  EXPECT_EQ(whole.Feed("1000|song.mp3|0"), HeaderReader::State::kDone);
  EXPECT_EQ(whole.header().size, 1000);
  EXPECT_EQ(whole.header().name, "song.mp3");

  HeaderReader split;
  EXPECT_EQ(split.Feed(""), HeaderReader::State::kWaiting);  // an empty first read is ignored
  EXPECT_EQ(split.Feed("10"), HeaderReader::State::kWaiting);
  EXPECT_EQ(split.Feed("00|so"), HeaderReader::State::kWaiting);
  EXPECT_EQ(split.Feed("ng.mp3|"), HeaderReader::State::kWaiting);
  EXPECT_EQ(split.Feed("0ABC"), HeaderReader::State::kDone);
  EXPECT_EQ(split.header().name, "song.mp3");
  EXPECT_EQ(split.TakeRest(), "ABC");
  EXPECT_EQ(split.Feed("DEF"), HeaderReader::State::kDone);
  EXPECT_EQ(split.TakeRest(), "DEF");
}

TEST(HeaderReaderTest, MalformedAndEndlessHeadersAreRefused) {
  for (std::string_view bad : std::initializer_list<std::string_view>{
           "x|a|0", "-5|a|0", "99999999999|a|0", "12a", "|a|0"}) {
    HeaderReader reader;
    EXPECT_EQ(reader.Feed(bad), HeaderReader::State::kRefused) << bad;
  }
  HeaderReader endless;
  EXPECT_EQ(endless.Feed("5|"), HeaderReader::State::kWaiting);
  for (int i = 0; i < 2000 && endless.state() == HeaderReader::State::kWaiting; ++i) {
    endless.Feed("aaaa");
  }
  EXPECT_EQ(endless.state(), HeaderReader::State::kRefused);
}

using Seen = std::vector<std::tuple<Kind, std::string, std::int64_t>>;
Seen Words(const std::vector<ControlWord>& words) {
  Seen out;
  for (const auto& word : words)
    out.emplace_back(word.kind, word.name, word.value);
  return out;
}

TEST(ControlReaderTest, WordsInAnyCaseAloneTogetherOrSplitAcrossReads) {
  ControlReader reader;
  EXPECT_EQ(Words(reader.Feed("START:FILE.MP3|0")), (Seen{{Kind::kStart, "FILE.MP3", 0}}));
  EXPECT_EQ(Words(reader.Feed("PausePausePacket:1084close")), (Seen{{Kind::kPause, "", 0},
                                                                    {Kind::kPause, "", 0},
                                                                    {Kind::kPacket, "", 1084},
                                                                    {Kind::kClose, "", 0}}));
  // A word split across reads waits for its rest.
  EXPECT_TRUE(reader.Feed("Sta").empty());
  EXPECT_TRUE(reader.Feed("rt:song.m").empty());
  EXPECT_TRUE(reader.Feed("p3|").empty());
  EXPECT_EQ(Words(reader.Feed("5904Pa")), (Seen{{Kind::kStart, "song.mp3", 5904}}));
  EXPECT_EQ(Words(reader.Feed("use")), (Seen{{Kind::kPause, "", 0}}));
}

TEST(ControlReaderTest, JunkIsSkippedAndBounded) {
  ControlReader reader;
  EXPECT_EQ(Words(reader.Feed("hello there close")),
            (Seen{{Kind::kUnknown, "", 0}, {Kind::kClose, "", 0}}));
  ControlReader endless;
  endless.Feed("start:");
  for (int i = 0; i < 300; ++i) {
    endless.Feed("aaaa");
    ASSERT_LE(endless.buffered(), kMaxControlBytes + 4);
  }
  // It reads words again after giving up the endless one.
  const auto words = endless.Feed("Close");
  ASSERT_FALSE(words.empty());
  EXPECT_EQ(words.back().kind, Kind::kClose);
}

}  // namespace
}  // namespace zorvex
