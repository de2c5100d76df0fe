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
#include <string_view>

#include "fuzz/node_fuzz.h"

using zorvex::fuzzing::FuzzNode;
using zorvex::fuzzing::kHash;
using zorvex::fuzzing::Lines;
using zorvex::fuzzing::Sandbox;
using zorvex::fuzzing::Senders;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Sandbox::Get().Reset();
  {
    FuzzNode n;
    n.Share("song.mp3", "abc", kHash);
    n.Deliver("ConnectEst:Peer|3|1|0 Bytes|1.2.1|1", "10.0.0.2");
    n.Deliver("ConnectEst:Peer|3|1|0 Bytes|1.2.1|1", "10.0.0.3");
    n.Tick();
    n.runtime.draws = {0.4166};  // search number 417
    n.node.search().StartOrCancel("blue");
    n.node.transfers().StartDownload("got.mp3", 1000, kHash, "10.0.0.9");
    n.Tick();
    n.Check();

    Lines lines(data, size);
    char command = 0;
    std::string_view text;
    for (int steps = 0; steps < 4000 && lines.Next(command, text); ++steps) {
      const auto& senders = Senders();
      if (command >= 'a' && command <= 'h') {
        n.Deliver(text, senders[command - 'a']);
        n.Tick();
      } else if (command >= 'A' && command <= 'H') {
        n.Deliver(text, senders[command - 'A']);
      } else if (command == 'r' && !text.empty()) {
        n.DeliverRaw(text, senders[static_cast<unsigned char>(text[0]) % senders.size()]);
        n.Tick();
      } else if (command == 't') {
        n.Advance(text.empty() ? 1 : static_cast<unsigned char>(text[0]) % 64 + 1);
      } else if (command == 'q') {
        n.Tick();
      } else if (command == 'u' && !text.empty() && !n.node.search().results().empty()) {
        n.node.DownloadResult(static_cast<unsigned char>(text[0]) %
                              n.node.search().results().size());
        n.Tick();
      } else if (command == 'o' && !text.empty() && !n.runtime.listeners.empty()) {
        auto* stream = n.runtime.listeners.back()->Offer(
            senders[static_cast<unsigned char>(text[0]) % senders.size()]);
        if (stream) stream->Feed(text.substr(1));
        n.runtime.RunPosted();
      } else if (command == 'x' && !text.empty() && !n.node.transfers().download_rows().empty()) {
        n.node.transfers().CancelTransfer(
            false, static_cast<unsigned char>(text[0]) % n.node.transfers().download_rows().size());
      }
      n.Check();
    }
  }
  Sandbox::Get().Check();
  return 0;
}
