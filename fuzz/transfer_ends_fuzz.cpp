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
#include <string>
#include <string_view>

#include "fuzz/node_fuzz.h"

using zorvex::fuzzing::Broken;
using zorvex::fuzzing::FuzzNode;
using zorvex::fuzzing::kHash;
using zorvex::fuzzing::Lines;
using zorvex::fuzzing::Sandbox;
using zorvex::fuzzing::Senders;
using zorvex::testing::FakeStream;

namespace {

constexpr std::int32_t kDownloadSize = 3000;
constexpr std::size_t kSharedSize = 5000;

std::size_t Number(std::string_view text) {
  return text.empty() ? 0 : static_cast<unsigned char>(text[0]);
}

void CheckDownloadFolder() {
  for (const auto& entry :
       std::filesystem::directory_iterator(Sandbox::Get().home() / "Downloads")) {
    if (entry.is_regular_file() && entry.file_size() > static_cast<std::uintmax_t>(kDownloadSize))
      Broken("download folder file outgrew its download: " + entry.path().string());
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Sandbox::Get().Reset();
  {
    FuzzNode n;
    std::string shared(kSharedSize, '\0');
    for (std::size_t i = 0; i < shared.size(); ++i)
      shared[i] = static_cast<char>(i * 131 % 251);
    n.Share("song.mp3", shared, kHash);
    n.Deliver("ConnectEst:Peer|3|1|0 Bytes|1.2.1|1", "10.0.0.2");
    n.Tick();
    n.node.transfers().StartDownload("got.mp3", kDownloadSize, kHash, "10.0.0.9");
    n.Deliver(std::string("SourceFound:got.mp3|") + kHash + "|1.5|3", "10.0.0.9");
    n.Tick();
    n.Advance(20);
    n.Check();

    Lines lines(data, size);
    char command = 0;
    std::string_view text;
    for (int steps = 0; steps < 2000 && lines.Next(command, text); ++steps) {
      const auto& senders = Senders();
      auto& streams = n.runtime.streams;
      FakeStream* stream = streams.empty() ? nullptr : streams[Number(text) % streams.size()];
      const std::string_view rest = text.empty() ? text : text.substr(1);
      switch (command) {
        case 'o':
          if (!n.runtime.listeners.empty())
            n.runtime.listeners.back()->Offer(senders[Number(text) % senders.size()]);
          break;
        case 'u':
          n.Deliver("SearchDownload:" + std::string(text), senders[Number(text) % senders.size()]);
          n.Tick();
          break;
        case 'f':
          if (stream) stream->Feed(rest);
          break;
        case 'c':
          if (stream) stream->AcceptConnect();
          break;
        case 'x':
          if (stream) stream->RefuseConnect();
          break;
        case 's':
          if (stream) stream->ConfirmSent();
          break;
        case 'z':
          if (stream) stream->CloseFromPeer();
          break;
        case 'y':
          if (stream) stream->FailFromPeer();
          break;
        case 't':
          n.Advance(static_cast<int>(Number(text) % 32) + 1);
          break;
        case 'p':
          n.runtime.RunPosted();
          break;
        default:
          break;
      }
      for (FakeStream* s : n.runtime.streams) {
        // An upload sends its header and the file, again only when asked to resume again.
        if (s->sent.size() > 64 * (kSharedSize + 1024)) Broken("a stream sends without end");
      }
      n.Check();
      CheckDownloadFolder();
    }
  }
  Sandbox::Get().Check();
  return 0;
}
