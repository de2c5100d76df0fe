#include "transfer/wire.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "support/temp_dir.h"
#include "transfer/saved_downloads.h"

namespace zorvex {
namespace {

using Kind = ControlWord::Kind;
using testing::ReadFileBytes;
using testing::TempDir;
using testing::WriteFileBytes;

TEST(TransferWireTest, MessagesAsTheySitOnTheWire) {
  EXPECT_EQ(TransferHeader(1000, "song.mp3"), "1000|song.mp3|0");
  EXPECT_EQ(StartMessage("song.mp3", 1025), "Start:song.mp3|1025");
  EXPECT_EQ(PacketMessage(1084), "Packet:1084");
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

TEST(HeaderReaderTest, WholeSplitFollowedByBytesMalformedAndEndless) {
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
  // Malformed and endless headers are refused.
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

TEST(ControlReaderTest, WordsInAnyCaseAloneTogetherOrSplitJunkSkippedAndBounded) {
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
  // Junk is skipped, and bounded.
  ControlReader junk;
  EXPECT_EQ(Words(junk.Feed("hello there close")),
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

TEST(SavedDownloadsTest, FormatIsHexNamesDecimalSizesAndAddressLists) {
  const std::vector<SavedDownload> list = {
      {"song.mp3", 4194304, "ABCDEF", {"10.0.0.5", "10.0.0.14"}},
      {"a|b\nc", 0, "", {}},
      {"x", 9, "", {}, 4},
  };
  const std::string text = FormatSavedDownloads(list);
  EXPECT_EQ(text,
            "Zorvex unfinished downloads 1\n"
            "736F6E672E6D7033|4194304|414243444546|10.0.0.5,10.0.0.14\n"
            "617C620A63|0||\n"
            "78|9|||4\n");
  EXPECT_EQ(ParseSavedDownloads(text), list);
}

TEST(SavedDownloadsTest, DamagedLinesOtherFormatsCutLinesAndBoundsAreNotTrusted) {
  struct Case {
    std::string line;
    bool kept;
  };
  const Case cases[] = {
      {"61|1|41|", true},
      {"61|1|41", false},            // a field missing
      {"61|1|41||", false},          // one too many
      {"|1|41|", false},             // no name
      {"6|1|41|", false},            // half a byte
      {"6G|1|41|", false},           // not hex
      {"61|-1|41|", false},          // negative size
      {"61|2147483648|41|", false},  // beyond 32 bits
      {"61| 1|41|", false},          // blanks in a number
      {"61|1|4|", false},            // half a byte of hash
      {"61|1|41|10.0.0.1,nonsense,,10.0.0.2", true},
      {"61|9|41||9", true},    // fetched in ranges: the whole start
      {"61|9|41||10", false},  // beyond the size
      {"61|9|41||-1", false},
      {"61|9|41||x", false},
      {std::string(2 * 1025, '6') + "|1|41|", false},  // name too long
  };
  for (const Case& c : cases) {
    const auto list = ParseSavedDownloads("Zorvex unfinished downloads 1\n" + c.line + "\n");
    EXPECT_EQ(list.size(), c.kept ? 1u : 0u) << c.line;
  }
  const auto list =
      ParseSavedDownloads("Zorvex unfinished downloads 1\n61|1|41|10.0.0.1,nonsense,,10.0.0.2\n");
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0].sources, (std::vector<std::string>{"10.0.0.1", "10.0.0.2"}));
  // Other formats, cut lines and bounds are not trusted.
  EXPECT_TRUE(ParseSavedDownloads("").empty());
  EXPECT_TRUE(ParseSavedDownloads("Zorvex unfinished downloads 2\n61|1|41|\n").empty());
  // The line after the last complete one was cut off by something other than this program.
  EXPECT_EQ(ParseSavedDownloads("Zorvex unfinished downloads 1\n61|1|41|\n62|1|41|").size(), 1u);
  std::string many = "Zorvex unfinished downloads 1\n";
  for (int i = 0; i < 1500; ++i)
    many += "61|1|41|\n";
  EXPECT_EQ(ParseSavedDownloads(many).size(), kMaxSavedDownloads);
  std::string sources = "Zorvex unfinished downloads 1\n61|1|41|";
  for (int i = 0; i < 100; ++i)
    sources += "10.0.0." + std::to_string(i + 1) + ",";
  EXPECT_EQ(ParseSavedDownloads(sources + "\n")[0].sources.size(), kMaxSavedSources);
}

TEST(SavedDownloadsTest, WrittenWholeAndRemovedWhenEmpty) {
  TempDir dir;
  const auto path = dir / kSavedDownloadsFileName;
  const std::vector<SavedDownload> list = {{"x.bin", 10, "00FF", {"10.1.2.3"}}};
  ASSERT_TRUE(WriteSavedDownloads(path, list));
  EXPECT_EQ(ReadFileBytes(path),
            "Zorvex unfinished downloads 1\n782E62696E|10|30304646|10.1.2.3\n");
  EXPECT_EQ(ReadSavedDownloads(path), list);
  // No temporary file stays beside it.
  std::size_t entries = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir.path()))
    ++entries;
  EXPECT_EQ(entries, 1u);
  ASSERT_TRUE(WriteSavedDownloads(path, {}));
  EXPECT_FALSE(std::filesystem::exists(path));
  EXPECT_TRUE(ReadSavedDownloads(path).empty());
  WriteFileBytes(path, std::string(kMaxSavedFileBytes + 1, '\n'));
  EXPECT_TRUE(ReadSavedDownloads(path).empty());
}

}  // namespace
}  // namespace zorvex
