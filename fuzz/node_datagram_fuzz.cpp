// Datagrams of every family, deciphered or raw, from eight senders into a whole node that has
// neighbours, shares a file, searches and downloads, with time passing between them. Each input
// line is one step:
//   a..h TEXT  the message TEXT from sender 0..7, then one queue tick
//   A..H TEXT  the same without the tick, so that records pile up
//   r TEXT     TEXT as the raw datagram bytes (deciphered by the node) from sender TEXT[0] % 8
//   t N        every timer fires (N % 64) + 1 times, a second apart
//   q          one queue tick
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
      }
      n.Check();
    }
  }
  Sandbox::Get().Check();
  return 0;
}
