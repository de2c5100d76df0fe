#pragma once
// A node busy with everything strangers can reach, and the bounds they must never push it past:
// shared by the hostile-peer tests and the fuzz targets.

#include <algorithm>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "core/address.h"
#include "core/message_layer.h"
#include "network/peer_table.h"
#include "node/node.h"
#include "search/search.h"
#include "share/shared_files.h"
#include "support/fake_runtime.h"
#include "support/temp_dir.h"
#include "transfer/context.h"
#include "transfer/transfers.h"

namespace zorvex::testing {

inline constexpr char kHash[] = "0123456789ABCDEF0123456789ABCDEF";

// Uploads on port 5503 (two slots, one per user) and downloads into `downloads` (ending in "/").
inline void AllowTransfers(Preferences& prefs, const std::string& downloads) {
  prefs.DownloadPort = 5503;
  prefs.MaxULs = 2;
  prefs.MaxULUsers = 1;
  prefs.DLDir = downloads;
}

// Shares `bytes` as `name`, with the hash kHash, from `folder` (ending in "/").
inline void Share(Node& node, const std::string& folder, const std::string& name,
                  std::string_view bytes) {
  WriteFileBytes(folder + name, bytes);
  SharedFile row;
  row.file_name = name;
  row.size = static_cast<std::int32_t>(bytes.size());
  row.hash = kHash;
  row.folder = folder;
  node.shared_files().rows.push_back(row);
}

// Makes 10.0.0.2 and 10.0.0.3 neighbours, then starts search number 417 for "blue" and a
// download of "got.mp3" (1000 bytes) from 10.0.0.9; false when either did not start.
inline bool StartBusyWork(Node& node, FakeRuntime& runtime) {
  for (const char* address : {"10.0.0.2", "10.0.0.3"})
    runtime.Deliver("ConnectEst:Peer|3|1|0 Bytes|1.2.1|1", address);
  node.messages().Tick();
  runtime.draws = {0.4166};
  const bool searching = node.search().StartOrCancel("blue");
  const bool downloading = node.transfers().StartDownload("got.mp3", 1000, kHash, "10.0.0.9");
  node.messages().Tick();
  return searching && downloading;
}

// The first bound the node is past, "" when none: its tables, results and queues stay within
// their caps, and datagrams (with a hop count in range) and streams go only to host addresses.
inline std::string BrokenBound(Node& node, const FakeRuntime& runtime,
                               const std::vector<SentDatagram>& sent) {
  const Preferences& prefs = node.preferences();
  if (node.peers().size() > static_cast<std::size_t>(std::max<int>(prefs.MaxConnections, 0)))
    return "neighbour table beyond MaxConnections";
  if (node.search().results().size() > 10'000) return "results beyond their cap";
  if (node.search().searched_count() > kMaxSearchedUsers) return "searched users beyond cap";
  if (node.messages().incoming_size() > kMaxIncomingRecords) return "incoming queue unbounded";
  if (node.messages().outgoing_size() > 100'000) return "outgoing queue unbounded";
  for (std::size_t row = 0; row < node.transfers().download_rows().size(); ++row) {
    if (node.transfers().Sources(row).size() > kMaxSources) return "sources beyond cap";
  }
  if (runtime.posted.size() > 100'000) return "posted tasks unbounded";
  for (const auto& d : sent) {
    if (!IsHostAddress(d.address)) return "datagram to " + d.address + ": " + d.message;
    if (d.port != 620) return "datagram to another port";
    if (d.message.starts_with("ConnectRqr:")) {
      const long long hops = std::atoll(d.message.c_str() + d.message.rfind('|') + 1);
      if (hops < 0 || hops > kMaxRequestHops) return "hop count " + d.message;
    }
  }
  for (const auto* stream : runtime.streams) {
    if (!stream->peer.empty() && !IsHostAddress(stream->peer)) return "stream to " + stream->peer;
  }
  return "";
}

}  // namespace zorvex::testing
