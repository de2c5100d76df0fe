// Link commands as a second copy of the program forwards them, one per input line, run by a
// node: downloads they start stay inside the download folder and messages go only to hosts.
#include <cstdint>
#include <string_view>

#include "fuzz/node_fuzz.h"
#include "node/commands.h"

using namespace zorvex::fuzzing;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return RunNode([&](FuzzNode& n) {
    n.AddNeighbour("10.0.0.2");
    n.Tick();
    n.Steps(data, size, 200, [&](char command, std::string_view text, std::string_view line) {
      if (line.size() <= 2 && command == 't') {
        n.Advance(text.empty() ? 1 : static_cast<int>(Byte(text) % 32) + 1);
      } else {
        (void)zorvex::ParseCommand(line);
        n.node.RunCommand(line);
        n.Tick();
      }
    });
  });
}
