// Datagrams of every family, deciphered or raw, from eight senders into a whole node that has
// neighbours, shares a file, searches and downloads, with time passing between them. Each input
// line is one step:
//   a..h TEXT  the message TEXT from sender 0..7, then one queue tick
//   A..H TEXT  the same without the tick, so that records pile up
//   r TEXT     TEXT as the raw datagram bytes (deciphered by the node) from sender TEXT[0] % 8
//   t N        every timer fires (N % 64) + 1 times, a second apart
//   q          one queue tick
// and what the user does with what strangers sent:
//   u N        download results row N % rows (names, sizes and hashes from "SearchFound:")
//   o N BYTES  sender N % 8 connects to the download port and sends BYTES
//   x N        cancel download row N % rows
// The node's bounds are checked after every step.
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/node_fuzz.h"

using namespace zorvex::fuzzing;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return RunNode([&](FuzzNode& n) {
    n.Share("song.mp3", "abc");
    zorvex::testing::StartBusyWork(n.node, n.runtime);
    n.Check();

    n.Steps(data, size, 4000, [&](char command, std::string_view text, std::string_view) {
      const auto& results = n.node.search().results();
      const auto& rows = n.node.transfers().download_rows();
      if (command >= 'a' && command <= 'h') {
        n.Deliver(text, kSenders[command - 'a']);
        n.Tick();
      } else if (command >= 'A' && command <= 'H') {
        n.Deliver(text, kSenders[command - 'A']);
      } else if (command == 'r' && !text.empty()) {
        n.runtime.handler->OnDatagram(std::string(text), SenderOf(text));
        n.Tick();
      } else if (command == 't') {
        n.Advance(text.empty() ? 1 : static_cast<int>(Byte(text) % 64) + 1);
      } else if (command == 'q') {
        n.Tick();
      } else if (command == 'u' && !text.empty() && !results.empty()) {
        n.node.DownloadResult(Byte(text) % results.size());
        n.Tick();
      } else if (command == 'o' && !text.empty() && !n.runtime.listeners.empty()) {
        auto* stream = n.runtime.listeners.back()->Offer(SenderOf(text));
        if (stream) stream->Feed(text.substr(1));
        n.runtime.RunPosted();
      } else if (command == 'x' && !text.empty() && !rows.empty()) {
        n.node.transfers().CancelTransfer(false, Byte(text) % rows.size());
      }
    });
  });
}
