// Both ends of transfer connections driven through a whole node: a download of "got.mp3" that
// asked 10.0.0.9 for the file, and uploads of the shared "song.mp3" that strangers request.
// Each input line is one step:
//   o N        the source N % 8 connects to the download port (the downloader's side)
//   u TEXT     "SearchDownload:" TEXT from sender TEXT[0] % 8 (the uploader's side)
//   f N BYTES  BYTES arrive on live stream N % count
//   c N / x N  stream N's connection attempt is accepted / refused
//   s N        everything stream N sent is confirmed
//   z N / y N  stream N is closed by its peer / reset
//   t N        every timer fires (N % 32) + 1 times, a second apart, and posted work runs
//   p          posted work (hash checks, saves) runs
// The node's bounds are checked after every step, and the files in the download folder never
// outgrow the download.
#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <string_view>

#include "fuzz/node_fuzz.h"
#include "support/stream_recorder.h"

using namespace zorvex::fuzzing;
using zorvex::testing::FakeStream;

namespace {

constexpr std::int32_t kDownloadSize = 3000;
constexpr std::size_t kSharedSize = 5000;

// What the far side of a stream does, by command.
const std::map<char, void (FakeStream::*)()> kStreamEvents = {
    {'c', &FakeStream::AcceptConnect}, {'x', &FakeStream::RefuseConnect},
    {'s', &FakeStream::ConfirmSent},   {'z', &FakeStream::CloseFromPeer},
    {'y', &FakeStream::FailFromPeer},
};

void CheckDownloadFolder() {
  for (const auto& entry :
       std::filesystem::directory_iterator(Sandbox::Get().home() / "Downloads")) {
    if (entry.is_regular_file() && entry.file_size() > static_cast<std::uintmax_t>(kDownloadSize))
      Broken("download folder file outgrew its download: " + entry.path().string());
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return RunNode([&](FuzzNode& n) {
    n.Share("song.mp3", zorvex::testing::Pattern(kSharedSize));
    n.AddNeighbour("10.0.0.2");
    n.Tick();
    n.node.transfers().StartDownload("got.mp3", kDownloadSize, kHash, "10.0.0.9");
    n.Deliver(std::string("SourceFound:got.mp3|") + kHash + "|1.5|3", "10.0.0.9");
    n.Tick();
    n.Advance(20);
    n.Check();

    n.Steps(data, size, 2000, [&](char command, std::string_view text, std::string_view) {
      auto& streams = n.runtime.streams;
      FakeStream* stream = streams.empty() ? nullptr : streams[Byte(text) % streams.size()];
      if (const auto event = kStreamEvents.find(command); event != kStreamEvents.end()) {
        if (stream) (stream->*event->second)();
      } else if (command == 'o' && !n.runtime.listeners.empty()) {
        n.runtime.listeners.back()->Offer(SenderOf(text));
      } else if (command == 'u') {
        n.Deliver("SearchDownload:" + std::string(text), SenderOf(text));
        n.Tick();
      } else if (command == 'f' && stream) {
        stream->Feed(text.empty() ? text : text.substr(1));
      } else if (command == 't') {
        n.Advance(static_cast<int>(Byte(text) % 32) + 1);
      } else if (command == 'p') {
        n.runtime.RunPosted();
      }
      for (FakeStream* s : n.runtime.streams) {
        // An upload sends its header and the file, again only when asked to resume again.
        if (s->sent.size() > 64 * (kSharedSize + 1024)) Broken("a stream sends without end");
      }
      CheckDownloadFolder();
    });
  });
}
