#include "tools/study/search_probes.h"

#include <algorithm>
#include <cstdio>

#include "network/peer_table.h"
#include "search/search.h"
#include "share/shared_files.h"

namespace zorvex::study {
namespace {

// Only nodes this long in the network search, so a probe measures a settled node.
constexpr std::int64_t kSearcherAgeMs = 120'000;
// A probe that has not ended by then is closed as it stands.
constexpr std::int64_t kProbeLimitMs = 10 * 60'000;
constexpr std::int32_t kProbeFileSize = 1'000'000;

SharedFile ProbeFile(int id) {
  char hash[40];
  std::snprintf(hash, sizeof hash, "%08X%024X", 0x5A5A0000u + static_cast<unsigned>(id), 0u);
  SharedFile row;
  row.base_name = "zq" + std::to_string(id) + "w";
  row.file_name = row.base_name + ".dat";
  row.category = "Unknown";
  row.size = kProbeFileSize;
  row.size_text = "976.56 Kb";
  row.hash = hash;
  row.folder = "/probe/";
  return row;
}

}  // namespace

SearchProbes::SearchProbes(StudyNetwork& network, TrafficMeter& meter) : network_(network) {
  meter.SetSubjectSink([this](const SubjectDatagram& datagram) { Count(datagram); });
}

std::vector<std::string> SearchProbes::PickHolders(std::size_t count, const std::string& searcher) {
  std::vector<std::string> holders;
  for (std::size_t attempt = 0; holders.size() < count && attempt < count * 20; ++attempt) {
    Member& member = network_[Draw(network_.random(), network_.size())];
    if (member.busy || member.gateway || member.address == searcher) continue;
    member.busy = true;
    holders.push_back(member.address);
  }
  return holders;
}

bool SearchProbes::Launch(std::size_t holders) {
  const std::int64_t now = network_.world().NowMs();
  Member* searcher = nullptr;
  for (int attempt = 0; attempt < 64 && !searcher; ++attempt) {
    Member& member = network_[Draw(network_.random(), network_.size())];
    if (!member.busy && !member.gateway && now - member.joined_ms >= kSearcherAgeMs &&
        member.node->peers().size() > 0 && !member.node->search().running()) {
      searcher = &member;
    }
  }
  if (!searcher) return false;
  searcher->busy = true;

  ProbeRecord record;
  record.id = static_cast<int>(records_.size()) + 1;
  const SharedFile file = ProbeFile(record.id);
  record.query = file.base_name;
  record.file_name = file.file_name;
  record.searcher = searcher->address;
  record.online = network_.size();
  record.started_ms = now;
  Open probe{records_.size(), PickHolders(holders, searcher->address), {}, {}, 0, true};
  record.holders = probe.holders.size();
  for (const auto& address : probe.holders)
    network_.Find(address)->node->shared_files().rows.push_back(file);
  by_subject_[record.query] = records_.size();
  by_subject_[record.file_name] = records_.size();
  records_.push_back(std::move(record));
  searcher->node->search().StartOrCancel(records_.back().query);
  open_.push_back(std::move(probe));
  return true;
}

void SearchProbes::Count(const SubjectDatagram& datagram) {
  const auto found = by_subject_.find(std::string(datagram.subject));
  if (found == by_subject_.end()) return;
  ProbeRecord& record = records_[found->second];
  const DatagramTrace& trace = datagram.trace;
  switch (datagram.kind) {
    case MessageKind::kSearchFor:
      ++record.requests;
      record.last_request_ms = trace.time_ms - record.started_ms;
      ++record.search_messages;
      break;
    case MessageKind::kSearchList:
      if (trace.fate == DatagramFate::kDelivered && trace.to == record.searcher) ++record.lists;
      ++record.search_messages;
      break;
    case MessageKind::kSearchFound:
      ++record.search_messages;
      break;
    case MessageKind::kSourceSearch:
      ++record.source_requests;
      ++record.source_messages;
      break;
    default:
      ++record.source_messages;
      break;
  }
}

void SearchProbes::Poll() {
  std::size_t kept = 0;
  for (std::size_t i = 0; i < open_.size(); ++i) {
    if (!Follow(open_[i])) {
      Close(open_[i]);
    } else if (kept++ != i) {
      open_[kept - 1] = std::move(open_[i]);
    }
  }
  open_.resize(kept);
}

bool SearchProbes::Follow(Open& probe) {
  ProbeRecord& record = records_[probe.record];
  Member* searcher = network_.Find(record.searcher);
  const std::int64_t elapsed = network_.world().NowMs() - record.started_ms;
  if (!searcher || elapsed > kProbeLimitMs) return false;
  if (probe.searching) {
    FollowSearch(probe, *searcher->node, elapsed);
    return probe.searching || record.downloaded;
  }
  FollowSources(probe, *searcher->node, elapsed);
  return elapsed - record.download_ms < kSourceWatchMs;
}

void SearchProbes::FollowSearch(Open& probe, Node& searcher, std::int64_t elapsed) {
  ProbeRecord& record = records_[probe.record];
  Search& search = searcher.search();
  const auto& results = search.results();
  for (; probe.results_seen < results.size(); ++probe.results_seen) {
    if (probe.found.insert(results[probe.results_seen].source).second)
      record.found_ms.push_back(elapsed);
  }
  if (search.running()) return;
  probe.searching = false;
  record.search_ms = elapsed;
  if (results.empty()) return;
  // The user downloads the first result.
  const SearchResult& first = results.front();
  record.downloaded =
      searcher.transfers().StartDownload(first.file_name, first.size, first.hash, first.source);
  record.download_ms = elapsed;
}

void SearchProbes::FollowSources(Open& probe, Node& searcher, std::int64_t elapsed) {
  ProbeRecord& record = records_[probe.record];
  Transfers& transfers = searcher.transfers();
  const auto& rows = transfers.download_rows();
  for (std::size_t row = rows.size(); row-- > 0;) {
    if (rows[row].file_name != record.file_name) continue;
    for (const TransferSource& source : transfers.Sources(row)) {
      if (probe.sourced.insert(source.address).second)
        record.source_ms.push_back(elapsed - record.download_ms);
    }
    if (elapsed - record.download_ms >= kSourceWatchMs) transfers.CancelTransfer(false, row);
    break;
  }
}

void SearchProbes::Close(Open& probe) {
  ProbeRecord& record = records_[probe.record];
  for (const auto& address : probe.holders) {
    if (Member* holder = network_.Find(address)) {
      auto& rows = holder->node->shared_files().rows;
      std::erase_if(rows, [&](const SharedFile& row) { return row.file_name == record.file_name; });
      holder->busy = false;
    }
  }
  if (Member* searcher = network_.Find(record.searcher)) searcher->busy = false;
}

}  // namespace zorvex::study
