// Link commands as a second copy of the program forwards them, one per input line, run by a
// node: downloads they start stay inside the download folder and messages go only to hosts.
#include <cstdint>
#include <string_view>

#include "fuzz/node_fuzz.h"
#include "node/commands.h"

using zorvex::fuzzing::FuzzNode;
using zorvex::fuzzing::Lines;
using zorvex::fuzzing::Sandbox;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Sandbox::Get().Reset();
  {
    FuzzNode n;
    n.Deliver("ConnectEst:Peer|3|1|0 Bytes|1.2.1|1", "10.0.0.2");
    n.Tick();
    Lines lines(data, size);
    std::string_view line;
    for (int steps = 0; steps < 200 && lines.NextLine(line); ++steps) {
      if (line.size() <= 2 && line.starts_with('t')) {
        // Time passes.
        n.Advance(line.size() < 2 ? 1 : static_cast<unsigned char>(line[1]) % 32 + 1);
      } else {
        (void)zorvex::ParseCommand(line);
        n.node.RunCommand(line);
        n.Tick();
      }
      n.Check();
    }
  }
  Sandbox::Get().Check();
  return 0;
}
