// A damaged prefs.dll: either the input's bytes as the whole file (first byte even) or its
// lines stored, well encoded, as the host cache, the gateway list and the nickname. The node
// loads it, bootstraps from what it read (offering itself only to host addresses, asking only
// gateways it was given), and at exit saves a host cache that reads back the same.
#include <algorithm>
#include <cstdint>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/node_fuzz.h"
#include "settings/ini_store.h"

using namespace zorvex::fuzzing;

namespace {

std::vector<std::string> CacheList(const zorvex::Preferences& prefs) {
  std::vector<std::string> out;
  for (std::size_t slot = 0; slot < zorvex::kHostCacheSavedSlots; ++slot) {
    if (!prefs.HostCache[slot].empty()) out.push_back(prefs.HostCache[slot]);
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  std::vector<std::string> saved;
  RunNode([&](FuzzNode& n) {
    const auto file = n.node.PreferencesFile();
    if (data[0] % 2 == 0) {
      std::ofstream(file, std::ios::binary)
          .write(reinterpret_cast<const char*>(data) + 1, static_cast<std::streamsize>(size - 1));
    } else {
      const zorvex::PreferenceKey stored[] = {zorvex::keys::kHostCache, zorvex::keys::kGateways,
                                              zorvex::keys::kNickname};
      std::string_view rest(reinterpret_cast<const char*>(data) + 1, size - 1), line;
      for (const auto& key : stored) {
        if (!NextLine(rest, line)) break;
        n.node.store().WriteINI(key.section, key.key, line, file);
      }
    }
    n.node.LoadPreferences();
    n.node.preferences().MyIP = "10.0.0.1";
    n.node.preferences().DLDir = Sandbox::Get().download_folder();
    n.Check();
    n.node.Run();
    const auto gateways = zorvex::ParseGatewayList(n.node.preferences().GatewayList);
    for (int round = 0; round < 4; ++round) {
      n.Advance(1);
      while (!n.runtime.http_pending.empty())
        n.runtime.AnswerHttp("10.0.0.5<br>");
      n.Tick();
      n.Check();
    }
    for (const auto& url : n.runtime.http_urls) {
      if (std::ranges::none_of(gateways, [&url](const auto& g) { return g.address == url; }))
        Broken("asked a gateway it was not given: " + url);
    }
    saved = CacheList(n.node.preferences());
    n.node.Exit({});
    n.Check();
  });
  {
    FuzzNode n;
    const auto raw = n.node.store().ReadRaw(zorvex::keys::kHostCache.section,
                                            zorvex::keys::kHostCache.key, n.node.PreferencesFile());
    n.node.LoadPreferences();
    // A value longer than the reader's limit is cut, as other copies of the client cut it.
    if (raw && raw->size() < zorvex::kIniReadLimit && CacheList(n.node.preferences()) != saved)
      Broken("the saved host cache reads back otherwise");
  }
  Sandbox::Get().Check();
  return 0;
}
