#include "transfer/transfers.h"

#include <filesystem>
#include <map>
#include <string>
#include <tuple>

#include "core/hex.h"
#include "transfer/context.h"
#include "transfer/transfer_harness.h"

namespace zorvex {
namespace {

using testing::Bytes;
using testing::FakeStream;
using testing::ReadFileBytes;
using testing::RowTexts;
using testing::SourceTexts;
using testing::WriteFileBytes;

constexpr char kSource[] = "10.0.0.9";

class TransfersTest : public testing::TransferTest {
 protected:
  TransfersTest() {
    Preferences& prefs = h.node.preferences();
    prefs.MaxULs = 3;
    prefs.MaxULUsers = 1;
    std::filesystem::create_directories(h.home / "dl");
    std::filesystem::create_directories(h.home / "share");
    prefs.DLDir = (h.home / "dl").string() + "/";
  }

  // A download of `name` that found one source and asked it for the file.
  void AskedDownload(const std::string& name, std::int32_t size, const std::string& hash,
                     const std::string& source = kSource) {
    ASSERT_TRUE(t.StartDownload(name, size, hash, source));
    t.HandleSourceFound(source, name + "|" + hash + "|1.5|3");
    Tick(20);
    Sent();
  }
  // The source connects; the header is answered.
  FakeStream* Connected(const std::string& header, const std::string& source = kSource) {
    return TransferTest::Connected(header, source);
  }
  std::string Shared(const std::string& name, const std::string& bytes) {
    WriteFileBytes(h.home / "share" / name, bytes);
    SharedFile row;
    row.file_name = name;
    row.size = static_cast<std::int32_t>(bytes.size());
    row.hash = HashOf(bytes);
    row.folder = (h.home / "share").string() + "/";
    h.node.shared_files().rows.push_back(row);
    return row.hash;
  }
  FakeStream* Upload(const std::string& request, const std::string& from = kSource) {
    t.HandleSearchDownload(from, request);
    return h.runtime.streams.empty() ? nullptr : h.runtime.streams.back();
  }
  // Each of 200 asked peers names twelve more; how many were asked, the first included.
  std::size_t AskedAlongAChain(const std::string& first) {
    std::size_t asked = 0;
    for (int i = 0; i < 200; ++i) {
      std::string list = "a.bin|";
      for (int k = 0; k < 12; ++k)
        list += "10.1." + std::to_string(i) + "." + std::to_string(k + 1) + "|";
      t.HandleSourceData(i == 0 ? first : "10.1." + std::to_string(i - 1) + ".1", list);
      asked += h.Flush().size();
    }
    return asked + 1;
  }
};

// --- Downloads ---

TEST_F(TransfersTest, DownloadRowSearchRequestAndNoSecondOfTheName) {
  h.AddNeighbours({"10.0.0.2"});
  h.Flush();
  ASSERT_TRUE(t.StartDownload("song.mp3", 3000000, "ABC", kSource));
  EXPECT_EQ(h.runtime.listeners.back()->listens, std::vector<std::uint16_t>{5503});
  EXPECT_EQ(RowTexts(t.download_rows().at(0)),
            "song.mp3 | 0% | 0.00 kbs | 00:00:00 | 0 Kb/2.93 Mb | None |  | "
            "Finding More Sources... | 0 | ");
  EXPECT_EQ(Sent(), (std::vector<std::string>{"SourceSearch:song.mp3|ABC|3000000 -> 10.0.0.9",
                                              "SourceSearch:song.mp3|ABC|3000000 -> 10.0.0.2"}));

  t.HandleSourceFound(kSource, "song.mp3|abc|12.5|20");
  t.HandleSourceFound(kSource, "song.mp3|abc|12.5|20");
  t.HandleSourceFound("10.0.0.3", "song.mp3|OTHER|1|1");
  ASSERT_EQ(t.Sources(0).size(), 1u);
  EXPECT_EQ(SourceTexts(t.Sources(0)[0]), "10.0.0.9 | 12.5 | 20 | 0");
  EXPECT_EQ(t.download_rows()[0].sources, "1");

  // A neighbour list spreads the search one step; known and malformed entries are skipped.
  t.HandleSourceData("10.0.0.2", "SONG.MP3|10.0.0.2|10.0.0.4||../x|");
  EXPECT_EQ(Sent(), std::vector<std::string>{"SourceSearch:song.mp3|ABC|3000000 -> 10.0.0.4"});
  t.HandleSourceData("10.0.0.2", "song.mp3|");
  EXPECT_TRUE(Sent().empty());

  Tick(19);
  EXPECT_TRUE(Sent().empty());
  Tick();
  EXPECT_EQ(Sent(), std::vector<std::string>{"SearchDownload:song.mp3|5503|Alice|ABC -> 10.0.0.9"});
  EXPECT_EQ(t.Sources(0)[0].use, "2");
  EXPECT_EQ(t.download_rows()[0].status, "Receiving...");
  // The same name again, in another case, is refused.
  EXPECT_FALSE(t.StartDownload("SONG.MP3", 10, "A", kSource));
  ASSERT_EQ(h.runtime.boxes.size(), 1u);
  EXPECT_EQ(h.runtime.boxes[0].text, "The selected file is already being transferred!");
  EXPECT_EQ(h.runtime.boxes[0].title, "Zorvex");
  EXPECT_EQ(h.runtime.boxes[0].icon, PromptIcon::kCritical);
  EXPECT_EQ(t.download_rows().size(), 1u);
}

TEST_F(TransfersTest, FreshDownloadCompletesAfterHashCheck) {
  const std::string file = Bytes(300000);
  AskedDownload("song.mp3", 300000, HashOf(file));
  FakeStream* stream = Connected("");  // an empty first read is ignored
  ASSERT_NE(stream, nullptr);
  stream->Feed("300000|so");
  EXPECT_EQ(stream->TakeSent(), "");
  EXPECT_EQ(t.Sources(0)[0].use, "2");
  stream->Feed("ng.mp3|0" + file.substr(0, 1000));
  EXPECT_EQ(stream->TakeSent(), "Start:song.mp3|0");
  EXPECT_EQ(t.Sources(0)[0].use, "1");
  EXPECT_EQ(t.download_rows()[0].status, "Receiving...");
  Tick();
  EXPECT_EQ(
      RowTexts(t.download_rows()[0]),
      "song.mp3 | 0% | 0.98 kbs | 00:04:57 | 1000 Bytes/292.97 Kb | 1 |  | Receiving... | 0 | ");
  stream->Feed(file.substr(1000, 150000));
  stream->Feed(file.substr(151000) + "extra bytes beyond the size");
  // Digested as it arrived: no second reading of the file, neither now nor posted.
  EXPECT_EQ(t.download_rows()[0].status, "Finished");
  EXPECT_EQ(h.runtime.hashing.requests, 0);
  EXPECT_EQ(h.runtime.hashing.step_runs, 0);
  EXPECT_TRUE(stream->closed_by_node);
  h.runtime.RunPosted();
  EXPECT_EQ(RowTexts(t.download_rows()[0]),
            "song.mp3 | 100% | 0 Bytes | 00:00:00 | 292.97 Kb/292.97 Kb | 1 |  | Finished | "
            "Finished | ");
  EXPECT_EQ(ReadFileBytes(h.home / "dl" / "song.mp3"), file);
  EXPECT_FALSE(std::filesystem::exists(h.home / "dl" / "song.mp3TMP"));
}

// Resuming starts 4096 bytes before the end of what is held, from the start while that is less
// than 5121 bytes.
TEST_F(TransfersTest, ResumeOffsetsFromTheTemporaryFile) {
  struct Case {
    std::size_t on_disk;
    std::string start;
    int held_part_hashings;  // the part held before the offset is hashed off the loop
  };
  for (const Case& c : {Case{5120, "Start:f.bin|0", 0}, Case{5121, "Start:f.bin|1025", 1},
                        Case{10000, "Start:f.bin|5904", 1}, Case{20000, "Start:f.bin|15904", 1}}) {
    const std::string file = Bytes(20000, static_cast<unsigned>(c.on_disk));
    WriteFileBytes(h.home / "dl" / "f.binTMP", file.substr(0, c.on_disk));
    AskedDownload("f.bin", 20000, HashOf(file));
    const int runs_before = h.runtime.hashing.step_runs;
    FakeStream* stream = Connected("20000|f.bin|0");
    EXPECT_EQ(stream->TakeSent(), c.start);
    EXPECT_EQ(h.runtime.hashing.step_runs - runs_before, c.held_part_hashings) << c.on_disk;
    const std::size_t offset = std::stoul(c.start.substr(c.start.find('|') + 1));
    stream->Feed(file.substr(offset, 3000));
    h.runtime.RunPosted();  // the held part is digested; the 3000 bytes after it follow
    stream->Feed(file.substr(offset + 3000));
    h.runtime.RunPosted();
    EXPECT_EQ(t.download_rows().back().status, "Finished") << c.on_disk;
    EXPECT_EQ(ReadFileBytes(h.home / "dl" / "f.bin"), file);
    std::filesystem::remove(h.home / "dl" / "f.bin");
  }
}

// A large file is digested on the hashing service a few megabytes behind the writing; the end
// waits for the last round, which reads only what it had not digested yet.
TEST_F(TransfersTest, ALargeDownloadIsDigestedOnTheHashingServiceBehindTheWriting) {
  const std::size_t size = (9 << 20) + 1000;
  const std::string file = Bytes(size, 5);
  AskedDownload("big.bin", static_cast<std::int32_t>(size), HashOf(file));
  FakeStream* stream = Connected(std::to_string(size) + "|big.bin|0");
  ASSERT_NE(stream, nullptr);
  const std::size_t chunk = 64 * 1024;
  std::size_t at = 0;
  for (; at < (4 << 20) - chunk; at += chunk)
    stream->Feed(file.substr(at, chunk));
  EXPECT_EQ(h.runtime.hashing.step_runs, 0);
  stream->Feed(file.substr(at, chunk));
  at += chunk;
  EXPECT_EQ(h.runtime.hashing.step_runs, 1);  // 4 MiB behind: a round starts
  for (; at < size; at += chunk)
    stream->Feed(file.substr(at, chunk));
  EXPECT_EQ(t.download_rows()[0].status, "Saving Data...");
  h.runtime.RunPosted();
  EXPECT_EQ(h.runtime.hashing.step_runs, 2);  // the rest, once the first round was in
  EXPECT_EQ(h.runtime.hashing.requests, 0);   // never the whole file again
  EXPECT_EQ(t.download_rows()[0].status, "Finished");
  EXPECT_EQ(ReadFileBytes(h.home / "dl" / "big.bin"), file);
}

// A source that sent wrong bytes breaks off; the next one sends again from 4096 bytes before the
// end of what is held and overwrites them: the digest follows the file, not what was received.
TEST_F(TransfersTest, ASourceSwitchRewritesTheOverlapAndTheDigestFollows) {
  const std::string file = Bytes(40000, 11);
  AskedDownload("f.bin", 40000, HashOf(file));
  t.HandleSourceFound("10.0.0.8", "f.bin|" + HashOf(file) + "|1|1");
  FakeStream* first = Connected("40000|f.bin|0");
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->TakeSent(), "Start:f.bin|0");
  first->Feed(file.substr(0, 16000) + std::string(4000, 'x'));
  first->FailFromPeer();
  Tick(20);
  EXPECT_EQ(Sent(), std::vector<std::string>{"SearchDownload:f.bin|5503|Alice|" + HashOf(file) +
                                             " -> 10.0.0.8"});
  FakeStream* second = Connected("40000|f.bin|0", "10.0.0.8");
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(second->TakeSent(), "Start:f.bin|15904");
  h.runtime.RunPosted();
  second->Feed(file.substr(15904));
  h.runtime.RunPosted();
  EXPECT_EQ(t.download_rows()[0].status, "Finished");
  EXPECT_EQ(ReadFileBytes(h.home / "dl" / "f.bin"), file);
}

// The list follows the downloads in progress; a second instance on the same file (a restart)
// brings each back, asks its known sources and new neighbours, and resumes from the temporary
// file; cancelling takes it off the list.
TEST_F(TransfersTest, DownloadsInProgressSurviveARestart) {
  const auto saved = h.home / "saved.txt";
  const std::string file = Bytes(20000, 2);
  const std::string hash = HashOf(file);
  {
    const auto first = NewTransfers();
    first->SetSavedDownloadsFile(saved);
    ASSERT_TRUE(first->StartDownload("song.mp3", 20000, hash, kSource));
    h.runtime.RunPosted();
    EXPECT_EQ(ReadFileBytes(saved),
              "Zorvex unfinished downloads 1\n736F6E672E6D7033|20000|" + EnHex(hash) + "|\n");
    first->HandleSourceFound(kSource, "song.mp3|" + hash + "|1.5|3");
    first->HandleSourceFound("10.0.0.8", "song.mp3|" + hash + "|1|1");
    h.runtime.RunPosted();
    EXPECT_EQ(ReadFileBytes(saved), "Zorvex unfinished downloads 1\n736F6E672E6D7033|20000|" +
                                        EnHex(hash) + "|10.0.0.9,10.0.0.8\n");
    Sent();
  }
  WriteFileBytes(h.home / "dl" / "song.mp3TMP", file.substr(0, 10000));

  const auto second = NewTransfers();
  second->SetSavedDownloadsFile(saved);
  second->RestoreDownloads();
  ASSERT_EQ(second->download_rows().size(), 1u);
  EXPECT_EQ(
      RowTexts(second->download_rows()[0]),
      "song.mp3 | 0% | 0.00 kbs | 00:00:00 | 0 Kb/19.53 Kb | None |  | Finding More Sources... "
      "| 0 | ");
  EXPECT_TRUE(second->download_rows()[0].restored);
  EXPECT_EQ(Sent(), (std::vector<std::string>{
                        "SourceSearch:song.mp3|" + hash + "|20000 -> 10.0.0.9",
                        "SourceSearch:song.mp3|" + hash + "|20000 -> 10.0.0.8",
                    }));
  Tick(15);
  h.AddNeighbours({"10.0.0.2"});
  Sent();
  second->NeighbourAdded();  // the search pass starts over with the new neighbour asked
  EXPECT_EQ(Sent(),
            std::vector<std::string>{"SourceSearch:song.mp3|" + hash + "|20000 -> 10.0.0.2"});
  second->HandleSourceFound("10.0.0.8", "song.mp3|" + hash + "|1|1");
  Tick(19);
  EXPECT_TRUE(Sent().empty());
  Tick();
  EXPECT_EQ(Sent(), std::vector<std::string>{"SearchDownload:song.mp3|5503|Alice|" + hash +
                                             " -> 10.0.0.8"});
  FakeStream* stream = Connected("20000|song.mp3|0", "10.0.0.8");
  ASSERT_NE(stream, nullptr);
  EXPECT_EQ(stream->TakeSent(), "Start:song.mp3|5904");
  second->CancelTransfer(false, 0);
  h.runtime.RunPosted();
  EXPECT_FALSE(std::filesystem::exists(saved));
}

// An empty file, one whose digest does not match, a temporary file longer than the file and a
// download folder that cannot be written, one after the other.
TEST_F(TransfersTest, DownloadsThatEndOrStopWithoutTheUsualBytes) {
  AskedDownload("empty.txt", 0, HashOf(""));
  FakeStream* stream = Connected("0|empty.txt|0");
  EXPECT_EQ(stream->TakeSent(), "Start:empty.txt|0");
  h.runtime.RunPosted();
  EXPECT_EQ(t.download_rows()[0].status, "Finished");
  EXPECT_TRUE(std::filesystem::exists(h.home / "dl" / "empty.txt"));

  AskedDownload("a.bin", 2000, HashOf("something else"));
  Connected("2000|a.bin|0")->Feed(Bytes(2000));
  h.runtime.RunPosted();
  EXPECT_EQ(t.download_rows()[1].status, "Error!");
  EXPECT_EQ(t.download_rows()[1].tag, "Error");
  EXPECT_FALSE(std::filesystem::exists(h.home / "dl" / "a.bin"));
  EXPECT_FALSE(std::filesystem::exists(h.home / "dl" / "a.binTMP"));

  WriteFileBytes(h.home / "dl" / "f.binTMP", Bytes(9000));
  AskedDownload("f.bin", 8000, "H");
  stream = Connected("8000|f.bin|0");
  EXPECT_EQ(stream->TakeSent(), "");
  EXPECT_EQ(t.download_rows()[2].status, "Receiving...");
  EXPECT_EQ(ReadFileBytes(h.home / "dl" / "f.binTMP").size(), 9000u);

  h.node.preferences().DLDir = (h.home / "missing").string() + "/";
  AskedDownload("u.bin", 10, "H", "10.0.0.8");
  stream = Connected("10|u.bin|0", "10.0.0.8");
  EXPECT_EQ(stream->TakeSent(), "");
  EXPECT_EQ(t.download_rows()[3].status, "Error!");
}

TEST_F(TransfersTest, UnsafeOrMalformedHeadersFailTheConnectionOnly) {
  AskedDownload("a.bin", 10, "H");
  for (const std::string& header :
       std::vector<std::string>{"10|../evil|0", "10|/etc/x|0", "10|..|0", "10|other.bin|0",
                                "x|a.bin|0", std::string(2000, '7')}) {
    FakeStream* stream = Connected(header);
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(stream->TakeSent(), "") << header;
    EXPECT_TRUE(stream->closed_by_node) << header;
    EXPECT_EQ(t.download_rows().back().status, "Receiving...") << header;
    EXPECT_EQ(t.Sources(0)[0].use, "2") << header;
    h.runtime.RunPosted();
  }
  EXPECT_TRUE(std::filesystem::is_empty(h.home / "dl"));
  EXPECT_FALSE(std::filesystem::exists(h.home / "evilTMP"));
}

// Pausing needs a connection; a source lost afterwards starts a new pass.
TEST_F(TransfersTest, PauseTogglesOnlyWithAConnectionThenTheSourceIsLost) {
  h.AddNeighbours({"10.0.0.2"});
  h.Flush();
  AskedDownload("a.bin", 100000, "H");
  t.PauseDownload(0);
  EXPECT_EQ(t.download_rows()[0].status, "Receiving...");
  FakeStream* stream = Connected("100000|a.bin|0");
  stream->TakeSent();
  t.PauseDownload(0);
  EXPECT_EQ(t.download_rows()[0].status, "Paused");
  t.PauseDownload(0);
  EXPECT_EQ(t.download_rows()[0].status, "Receiving...");
  EXPECT_EQ(stream->TakeSent(), "PausePause");
  stream->Feed(Bytes(5000));
  stream->CloseFromPeer();
  EXPECT_EQ(t.Sources(0)[0].use, "-1");
  EXPECT_EQ(t.download_rows()[0].status, "Finding More Sources...");
}

TEST_F(TransfersTest, TuningAsksForLargerPacketsEveryFifteenTicks) {
  AskedDownload("a.bin", 10000000, "H");
  FakeStream* stream = Connected("10000000|a.bin|0");
  stream->TakeSent();
  std::string data = Bytes(1024);
  const std::map<int, std::string> asks = {
      {15, "Packet:1084"}, {30, "Packet:1144"}, {45, "Packet:1204"}};
  for (int tick = 1; tick <= 45; ++tick) {
    for (int k = 0; k < tick; ++k)
      stream->Feed(data);  // a growing rate
    Tick();
    EXPECT_EQ(stream->TakeSent(), asks.contains(tick) ? asks.at(tick) : "") << tick;
  }
  // A steady rate ends the tuning with the size before the last increase.
  for (int tick = 1; tick <= 30; ++tick) {
    Tick();
    EXPECT_EQ(stream->TakeSent(), tick == 15 ? "Packet:1144" : "") << tick;
  }
}

TEST_F(TransfersTest, UnexpectedPeersAreClosedAndSilentSourcesReplaced) {
  AskedDownload("a.bin", 100, "H");
  EXPECT_EQ(h.runtime.listeners.back()->Offer("10.0.0.77"), nullptr);
  t.HandleSourceFound("10.0.0.5", "a.bin|H|0|0");
  Tick(20);  // the asked source never connects
  EXPECT_EQ(Sent(), std::vector<std::string>{"SearchDownload:a.bin|5503|Alice|H -> 10.0.0.5"});
  EXPECT_EQ(t.Sources(0)[0].use, "-1");
  EXPECT_EQ(t.Sources(0)[1].use, "2");
  EXPECT_EQ(t.download_rows()[0].status, "Switching...");
  EXPECT_EQ(h.runtime.listeners.back()->Offer(kSource), nullptr);  // too late
  Tick(20);
  EXPECT_EQ(t.download_rows()[0].status, "Error!");
}

TEST_F(TransfersTest, SourceChoicePrefersHigherRoundedAverageOrZero) {
  ASSERT_TRUE(t.StartDownload("a.bin", 100, "H", ""));
  t.HandleSourceFound("10.0.0.5", "a.bin|H|12.5|1");
  t.HandleSourceFound("10.0.0.6", "a.bin|H|12.4|1");
  t.HandleSourceFound("10.0.0.7", "a.bin|H|0|1");
  Tick(20);
  EXPECT_EQ(t.Sources(0)[0].use, "2");
  Tick(20);  // 12.4 is no better than 12.5; "0" is always taken
  EXPECT_EQ(t.Sources(0)[1].use, "0");
  EXPECT_EQ(t.Sources(0)[2].use, "2");
}

TEST_F(TransfersTest, NoSourceFailsAfterTheFirstPass) {
  ASSERT_TRUE(t.StartDownload("a.bin", 100, "H", kSource));
  Tick(19);
  EXPECT_EQ(t.download_rows()[0].status, "Finding More Sources...");
  Tick();
  EXPECT_EQ(t.download_rows()[0].status, "Error!");
  EXPECT_EQ(t.download_rows()[0].tag, "Error");
}

TEST_F(TransfersTest, CancelClearAndReuseTheLowestFreeInstance) {
  ASSERT_TRUE(t.StartDownload("a.bin", 100, "H", kSource));
  ASSERT_TRUE(t.StartDownload("b.bin", 100, "H", kSource));
  t.CancelTransfer(false, 0);
  EXPECT_EQ(t.download_rows()[0].status, "Cancelled");
  EXPECT_EQ(t.download_rows()[0].tag, "Error");
  t.CancelTransfer(false, 0);  // an ended row is left alone
  EXPECT_EQ(t.download_rows()[0].status, "Cancelled");
  ASSERT_TRUE(t.StartDownload("c.bin", 100, "H", kSource));
  EXPECT_EQ(t.download_rows()[2].tag, "0");
  t.ClearTransfers(false, false);
  EXPECT_EQ(t.download_rows().size(), 3u);
  t.ClearTransfers(false, true);
  ASSERT_EQ(t.download_rows().size(), 2u);
  EXPECT_EQ(t.download_rows()[0].file_name, "b.bin");
  t.SetAutomaticClear(true, false);
  t.CancelTransfer(false, 1);
  EXPECT_EQ(t.download_rows().size(), 1u);
}

// --- Uploads ---

// The limiters' timers are the last two made before the fixture's first.
TEST_F(TransfersTest, UploadLimitSendsWholePacketsAtItsPaceDownloadLimitPausesReading) {
  h.node.preferences().UploadLimit = 10;  // 10240 bytes a second, 8192 at once
  t.ApplyRateLimits();
  const std::string file = Bytes(100000);
  const std::string hash = Shared("a.bin", file);
  FakeStream* stream = Upload("a.bin|5503|Bob|" + hash);
  ASSERT_NE(stream, nullptr);
  stream->AcceptConnect();
  stream->Feed("Start:a.bin|0");
  EXPECT_EQ(stream->TakeSent(), "100000|a.bin|0" + file.substr(0, 8192));
  stream->ConfirmSent();
  EXPECT_EQ(stream->TakeSent(), "");
  h.runtime.now_ms += 500;  // 5120 bytes: five packets
  h.runtime.FireTimer(first_timer - 2);
  EXPECT_EQ(stream->TakeSent(), file.substr(8192, 5120));
  h.node.preferences().UploadLimit = 0;
  t.ApplyRateLimits();
  stream->ConfirmSent();
  EXPECT_EQ(stream->TakeSent(), file.substr(13312));

  // A download limit stops reading until the bucket refills.
  h.node.preferences().DownloadLimit = 10;
  t.ApplyRateLimits();
  AskedDownload("a.bin", 100000, "H");
  stream = Connected("100000|a.bin|0");
  ASSERT_NE(stream, nullptr);
  stream->Feed(Bytes(4000));
  EXPECT_FALSE(stream->read_paused);
  stream->Feed(Bytes(4192));  // 8192 in all: the bucket is empty
  EXPECT_TRUE(stream->read_paused);
  h.runtime.now_ms += 400;
  h.runtime.FireTimer(first_timer - 1);
  EXPECT_FALSE(stream->read_paused);
  EXPECT_EQ(t.download_rows()[0].status, "Receiving...");
}

TEST_F(TransfersTest, UploadSendsHeaderPacketsAndFinishes) {
  const std::string file = Bytes(5000);
  const std::string hash = Shared("Song.mp3", file);
  FakeStream* stream = Upload("song.mp3|5503|Bob|" + hash);  // links arrive lower-cased
  ASSERT_NE(stream, nullptr);
  EXPECT_EQ(stream->peer, kSource);
  EXPECT_EQ(stream->connect_port, 5503);
  EXPECT_EQ(RowTexts(t.upload_rows().at(0)),
            "Song.mp3 | 0% | 0 Bytes | 00:00:00 | 4.88 Kb |  | Bob | Connecting... | 0 | 10.0.0.9");
  stream->AcceptConnect();
  EXPECT_EQ(stream->TakeSent(), "5000|Song.mp3|0");
  EXPECT_EQ(t.upload_rows()[0].status, "Sending...");
  stream->Feed("Packet:1084");
  stream->Feed("START:SONG.MP3|0");
  EXPECT_EQ(stream->TakeSent(), file);
  Tick();
  EXPECT_EQ(
      RowTexts(t.upload_rows()[0]),
      "Song.mp3 | 0% | 0 kbs | 00:00:00 | 0 Bytes/4.88 Kb |  | Bob | Sending... | 0 | 10.0.0.9");
  stream->ConfirmSent();
  EXPECT_EQ(
      RowTexts(t.upload_rows()[0]),
      "Song.mp3 | 100% | 0 Bytes | 00:00:00 | 4.88 Kb/4.88 Kb |  | Bob | Finished | Finished | "
      "10.0.0.9");
}

TEST_F(TransfersTest, UploadShortFileResumeAndJoinedWords) {
  const std::string file = Bytes(1000);
  const std::string hash = Shared("a.bin", file);
  FakeStream* stream = Upload("a.bin|5503|Bob|" + hash);
  stream->AcceptConnect();
  stream->TakeSent();
  stream->Feed("Start:a.bin|0PausePause");  // two pauses in a row leave it running
  EXPECT_EQ(stream->TakeSent(), file);
  EXPECT_EQ(t.upload_rows()[0].status, "Sending...");
  stream->ConfirmSent();
  EXPECT_EQ(t.upload_rows()[0].status, "Finished");

  const std::string big = Bytes(900000, 3);
  const std::string big_hash = Shared("big.bin", big);
  stream = Upload("big.bin|5503|Bob|" + big_hash);
  stream->AcceptConnect();
  stream->TakeSent();
  stream->Feed("Sta");
  stream->Feed("rt:big.bin|5904");
  std::string got = stream->TakeSent();
  EXPECT_GE(got.size(), 200000u);  // several packets in flight
  stream->ConfirmSent();
  got += stream->TakeSent();
  Tick();
  stream->Feed("Pause");
  EXPECT_EQ(t.upload_rows().back().status, "Paused");
  stream->ConfirmSent();
  EXPECT_EQ(stream->TakeSent(), "");
  stream->Feed("Pause");
  for (int i = 0; i < 10 && t.upload_rows().back().status != "Finished"; ++i) {
    got += stream->TakeSent();
    stream->ConfirmSent();
  }
  got += stream->TakeSent();
  EXPECT_EQ(got, big.substr(5904));
  EXPECT_EQ(t.upload_rows().back().status, "Finished");
  EXPECT_GT(h.node.preferences().AverageUploadRate, 0);
  EXPECT_GT(h.node.preferences().BestUploadRate, 0);
}

TEST_F(TransfersTest, UploadEndings) {
  const std::string hash = Shared("a.bin", Bytes(400000));
  FakeStream* stream = nullptr;
  // A start for another file fails, "Close" finishes, a close long before the end fails.
  for (const auto& [words, peer_closes, status] :
       {std::tuple{"Start:other.bin|0", false, "Error!"}, std::tuple{"Close", false, "Finished"},
        std::tuple{"Start:a.bin|0", true, "Error!"}}) {
    stream = Upload("a.bin|5503|Bob|" + hash);
    stream->AcceptConnect();
    stream->Feed(words);
    if (peer_closes) stream->CloseFromPeer();
    EXPECT_EQ(t.upload_rows().back().status, status) << words;
  }
  stream = Upload("a.bin|5503|Bob|" + hash);
  stream->RefuseConnect();
  EXPECT_EQ(t.upload_rows()[3].status, "Error!");
  EXPECT_EQ(t.upload_rows()[3].tag, "Error");

  // A file gone before the connection is up fails without a byte.
  const std::string gone = Shared("g.bin", Bytes(3000));
  stream = Upload("g.bin|5503|Bob|" + gone);
  std::filesystem::remove(h.home / "share" / "g.bin");
  stream->AcceptConnect();
  EXPECT_EQ(stream->TakeSent(), "");
  EXPECT_EQ(t.upload_rows()[4].status, "Error!");

  // Once the whole file was read, an orderly close finishes the upload and a reset fails it.
  const std::string small = Shared("s.bin", Bytes(1000));
  for (const bool reset : {false, true}) {
    stream = Upload("s.bin|5503|Bob|" + small);
    stream->AcceptConnect();
    stream->Feed("Start:s.bin|0");
    ASSERT_EQ(stream->TakeSent().size(), std::string("1000|s.bin|0").size() + 1000);
    reset ? stream->FailFromPeer() : stream->CloseFromPeer();
    EXPECT_EQ(t.upload_rows().back().status, reset ? "Error!" : "Finished");
  }
}

TEST_F(TransfersTest, ABrokenDownloadConnectionCostsItsSourceWhateverTheState) {
  AskedDownload("a.bin", 100000, "H");
  FakeStream* stream = Connected("100000|a.bin|0");
  stream->Feed(Bytes(5000));
  t.FindMoreSources(0);  // searching: an orderly close is not acted on
  stream->CloseFromPeer();
  EXPECT_EQ(t.Sources(0)[0].use, "1");
  AskedDownload("b.bin", 100000, "H", "10.0.0.8");
  stream = Connected("100000|b.bin|0", "10.0.0.8");
  ASSERT_NE(stream, nullptr);
  t.FindMoreSources(1);
  stream->FailFromPeer();
  EXPECT_EQ(t.Sources(1)[0].use, "-1");
}

// The per-user limit compares addresses ignoring case.
TEST_F(TransfersTest, SlotLimitsAndInstanceReuse) {
  const std::string hash = Shared("a.bin", Bytes(3000));
  const std::string request = "a.bin|5503|Bob|" + hash;
  Upload(request, "10.0.0.1");
  Upload(request, "10.0.0.2");
  Upload("A.BIN|5503|Bob|" + hash, "10.0.0.3");
  EXPECT_EQ(t.upload_rows().size(), 3u);
  Upload(request, "10.0.0.4");  // MaxULs 3
  EXPECT_EQ(t.upload_rows().size(), 3u);
  EXPECT_TRUE(Sent().empty());

  h.node.preferences().MaxULs = 10;
  h.node.preferences().MaxULUsers = 1;
  FakeStream* fourth = Upload(request, "10.0.0.4");
  EXPECT_EQ(t.upload_rows().size(), 4u);
  Upload(request, "10.0.0.4");  // per-user limit
  EXPECT_EQ(t.upload_rows().size(), 4u);
  h.node.preferences().MaxULUsers = 2;
  Upload(request, "10.0.0.4");
  EXPECT_EQ(t.upload_rows().size(), 5u);
  h.node.preferences().MaxULUsers = 1;
  fourth->RefuseConnect();
  Upload(request, "10.0.0.4");  // the address still holds one
  EXPECT_EQ(t.upload_rows().size(), 5u);

  t.CancelTransfer(true, 1);
  EXPECT_EQ(t.upload_rows()[1].status, "Cancelled");
  Upload(request, "10.0.0.2");
  EXPECT_EQ(t.upload_rows().back().tag, "1");  // the lowest free instance
  Upload(request, "host.example");
  Upload(request, "HOST.EXAMPLE");
  EXPECT_EQ(t.upload_rows().size(), 7u);
}

// A request for a file not shared is answered with an error; a source search with the
// neighbours and, when the file is shared, with its rates.
TEST_F(TransfersTest, AnswersSearchDownloadsAndSourceSearches) {
  h.node.preferences().Nickname = "Carol";
  const std::string hash = Shared("a.bin", Bytes(10));
  t.HandleSearchDownload(kSource, "a.bin|5503|Bob|WRONGHASH");
  EXPECT_EQ(Sent(),
            std::vector<std::string>{
                "MiscError: Could not find that file in Carol's Shared Files! -> 10.0.0.9"});
  EXPECT_TRUE(t.upload_rows().empty());

  h.AddNeighbours({"10.0.0.2", "10.0.0.3"});
  h.Flush();
  h.node.preferences().AverageUploadRate = 12.5;
  h.node.preferences().BestUploadRate = 40;
  t.HandleSourceSearch(kSource, "A.BIN|" + hash + "|10");
  EXPECT_EQ(Sent(),
            (std::vector<std::string>{"SourceData:A.BIN|10.0.0.2|10.0.0.3| -> 10.0.0.9",
                                      "SourceFound:a.bin|" + hash + "|12.5|40 -> 10.0.0.9"}));
  t.HandleSourceSearch(kSource, "a.bin|" + hash + "|11");
  EXPECT_EQ(Sent(), std::vector<std::string>{"SourceData:a.bin|10.0.0.2|10.0.0.3| -> 10.0.0.9"});
}

// --- What a hostile or confused source can do ---

TEST_F(TransfersTest, ConnectionsGoToTheDownloadTheirHeaderNamesInEitherOrder) {
  const std::string a = Bytes(3000, 1), b = Bytes(4000, 2);
  WriteFileBytes(h.home / "dl" / "b.binTMP", b.substr(0, 2000));
  // Both ask the same source at once.
  for (const auto& [name, bytes] : {std::pair{"a.bin", a}, std::pair{"b.bin", b}}) {
    ASSERT_TRUE(
        t.StartDownload(name, static_cast<std::int32_t>(bytes.size()), HashOf(bytes), kSource));
    t.HandleSourceFound(kSource, std::string(name) + "|" + HashOf(bytes) + "|1.5|3");
  }
  Tick(20);
  // b's connection arrives first although a comes first in the table.
  FakeStream* to_b = Connected("4000|B.BIN|0");
  ASSERT_NE(to_b, nullptr);
  EXPECT_EQ(to_b->TakeSent(), "Start:B.BIN|0");
  // A connection naming a file nobody asked this source for touches nothing.
  FakeStream* stray = Connected("10|c.binTMP|0");
  ASSERT_NE(stray, nullptr);
  EXPECT_TRUE(stray->closed_by_node);
  FakeStream* to_a = Connected("3000|a.bin|0");
  ASSERT_NE(to_a, nullptr);
  EXPECT_EQ(to_a->TakeSent(), "Start:a.bin|0");
  to_a->Feed(a);
  to_b->Feed(b);
  h.runtime.RunPosted();
  EXPECT_EQ(t.download_rows()[0].status, "Finished");
  EXPECT_EQ(t.download_rows()[1].status, "Finished");
  EXPECT_EQ(ReadFileBytes(h.home / "dl" / "a.bin"), a);
  EXPECT_EQ(ReadFileBytes(h.home / "dl" / "B.BIN"), b);
  EXPECT_FALSE(std::filesystem::exists(h.home / "dl" / "c.binTMP"));
}

TEST_F(TransfersTest, SourceListsTakeOnlyAskedPeersAndStayBounded) {
  ASSERT_TRUE(t.StartDownload("a.bin", 100, "H", kSource));
  Sent();
  // A peer that was never asked cannot widen the search.
  t.HandleSourceData("10.0.0.66", "a.bin|10.0.0.4|");
  EXPECT_TRUE(Sent().empty());
  t.HandleSourceData(kSource, "a.bin|10.0.0.4|010.0.0.5|224.0.0.9|");
  EXPECT_EQ(Sent(), std::vector<std::string>{"SourceSearch:a.bin|H|100 -> 10.0.0.4"});
  // The peers asked stop at the bound.
  EXPECT_EQ(1 + AskedAlongAChain("10.0.0.4"), kMaxSourcePeersAsked);
  for (int i = 0; i < 300; ++i)
    t.HandleSourceFound("10.2." + std::to_string(i / 250) + "." + std::to_string(i % 250 + 1),
                        "a.bin|H|1|1");
  EXPECT_EQ(t.Sources(0).size(), kMaxSources);
  EXPECT_EQ(t.download_rows()[0].sources, std::to_string(kMaxSources));
}

TEST_F(TransfersTest, AStudyMayMoveTheSourceSearchBound) {
  t.SetSourceAskLimit(5000);
  ASSERT_TRUE(t.StartDownload("a.bin", 100, "H", kSource));
  Sent();
  EXPECT_EQ(AskedAlongAChain(kSource), 1u + 200 * 12);  // past the built-in 2,000
}

TEST_F(TransfersTest, RowAndSourceTextsBeforeTheHeader) {
  ASSERT_TRUE(t.StartDownload("a.bin", 3000000, "H", kSource));
  Tick();
  // The total is unknown until the source's header confirms it.
  EXPECT_EQ(t.download_rows()[0].size, "0 Bytes/");
  struct Case {
    const char* average;
    const char* best;
    const char* shown_average;
    const char* shown_best;
  };
  int peer = 10;
  for (const Case& c : {Case{"1e5", "2.5e-1", "100000", "0.25"},
                        Case{"12.50", "1000000000", "12.5", "1000000000"}}) {
    t.HandleSourceFound("10.0.0." + std::to_string(peer++),
                        std::string("a.bin|H|") + c.average + "|" + c.best);
    EXPECT_EQ(t.Sources(0).back().average, c.shown_average);
    EXPECT_EQ(t.Sources(0).back().best, c.shown_best);
  }
  for (const char* rate : {"-1", "1e300", "nan", "inf", "1000000001", "0x10", ""}) {
    t.HandleSourceFound("10.0.0." + std::to_string(peer++), std::string("a.bin|H|") + rate + "|1");
  }
  EXPECT_EQ(t.Sources(0).size(), 2u);
}

}  // namespace
}  // namespace zorvex
