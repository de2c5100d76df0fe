// Gateway pages of any shape, served to a node's bootstrap by two gateways (the input split at
// its first NUL byte): the node offers itself only to host addresses and stays within bounds.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "fuzz/node_fuzz.h"
#include "network/bootstrap.h"

using namespace zorvex::fuzzing;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const auto cut = input.find('\0');
  const std::string_view pages[] = {input.substr(0, cut),
                                    cut == std::string_view::npos ? "" : input.substr(cut + 1)};

  std::size_t separators = 0;
  const auto entries = zorvex::ParseGatewayPage(pages[0], &separators);
  if (entries.size() > zorvex::kMaxGatewayEntries || entries.size() > separators) std::abort();

  return RunNode([&](FuzzNode& n) {
    n.node.preferences().GatewayList =
        "One*http://gw1.example/gateway.php|Two*http://gw2.example/gateway.php|";
    n.node.Run();
    for (const auto& page : pages) {
      n.Advance(1);
      if (n.runtime.http_pending.empty()) Broken("the bootstrap asked no gateway");
      n.runtime.AnswerHttp(std::string(page));
      const std::size_t offers = n.runtime.sent.size();
      n.Tick();
      n.Check();
      if (offers > zorvex::kMaxGatewayEntries) Broken("more offers than a page may make");
    }
    n.Advance(1);
    if (n.node.bootstrap().busy()) Broken("the bootstrap never ends");
    n.Check();
  });
}
