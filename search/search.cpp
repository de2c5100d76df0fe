#include "search/search.h"

#include <charconv>

#include "core/address.h"
#include "core/fields.h"
#include "core/message_layer.h"
#include "network/peer_table.h"
#include "search/query_validation.h"
#include "settings/preferences.h"
#include "share/file_kind.h"
#include "share/format.h"

namespace zorvex {
namespace {

// A node has at most 12 neighbours; a list naming more is read only this far.
constexpr std::size_t kMaxListedAddresses = 32;
// Answers beyond this many rows are dropped, so a flood cannot grow the list without bound.
constexpr std::size_t kMaxResults = 10'000;

}  // namespace

std::string_view SearchStatusText(SearchStatus status) {
  switch (status) {
    case SearchStatus::kSearching:
      return "Searching...";
    case SearchStatus::kCancelled:
      return "Cancelled!";
    case SearchStatus::kNoResults:
      return "No Results Found!";
    case SearchStatus::kFinished:
      return "Finished";
    case SearchStatus::kNone:
      break;
  }
  return "";
}

Search::Search(MessageLayer& messages, const PeerTable& peers, const Preferences& prefs,
               Runtime& runtime)
    : messages_(messages), peers_(peers), prefs_(prefs), runtime_(runtime) {}

bool Search::StartOrCancel(std::string_view query) {
  if (running_) {
    Cancel();
    return true;
  }
  return Start(query);
}

bool Search::Start(std::string_view text) {
  if (const auto refusal = ValidateSearchQuery(text, peers_.size() > 0)) {
    runtime_.Prompts().MessageBox(
        refusal->text, refusal->title.empty() ? kAppTitle : refusal->title, refusal->icon);
    return false;
  }
  running_ = true;
  results_.clear();
  ghosted_.clear();
  query_ = std::string(text);
  shown_searched_ = 0;
  last_result_count_ = 0;
  idle_ticks_ = 0;
  last_searched_count_ = 0;
  search_id_ = RandomInRange(999, 1, runtime_.Random());
  shown_query_ = query_;
  status_ = SearchStatus::kSearching;
  for (const auto& row : peers_.rows())
    AddSearchedUser(row.address);
  for (const auto& row : peers_.rows())
    SendRequest(row.address);
  can_clear_ = false;
  Changed();
  return true;
}

void Search::Cancel() {
  if (!running_) return;
  status_ = SearchStatus::kCancelled;
  ResetSearch();
  if (results_.empty()) status_ = SearchStatus::kNoResults;
  running_ = false;
  can_clear_ = true;
  Changed();
}

void Search::SearchIt(std::string_view text) {
  if (text.empty()) return;
  Cancel();
  Start(text);
}

void Search::ClearResults() {
  if (running_) return;
  results_.clear();
  ghosted_.clear();
  shown_query_ = "-----";
  status_ = SearchStatus::kNone;
  can_clear_ = false;
  Changed();
}

void Search::ResetSearch() {
  idle_ticks_ = -1;
  last_searched_count_ = 0;
  last_result_count_ = 0;
  search_id_ = 0;
  query_.clear();
  searched_.clear();
  searched_set_.clear();
}

bool Search::IsUserSearched(std::string_view address) const {
  return searched_set_.contains(LowerCase(address));
}

bool Search::AddSearchedUser(const std::string& address) {
  if (searched_.size() >= ask_limit_) return false;
  if (!searched_set_.insert(LowerCase(address)).second) return false;
  searched_.push_back(address);
  shown_searched_ = searched_.size();
  return true;
}

void Search::SendRequest(const std::string& address) {
  messages_.QueueMessage(
      "SearchFor:" + query_ + "|" + std::to_string(category_) + "|" + std::to_string(search_id_),
      address);
}

void Search::HandleSearchList(const std::string& sender, std::string_view payload) {
  // The payload starts with our query, which may itself hold "|".
  if (query_.empty() || !StartsWithText(payload, query_ + "|")) return;
  const auto fields = SplitFields(payload.substr(query_.size() + 1));
  // Only a node this search asked may extend it; anyone else could keep it from ever ending.
  if (ParseDecimal<int>(fields[0]) != search_id_ || !IsUserSearched(sender)) return;
  const std::size_t end = std::min(fields.size(), kMaxListedAddresses + 1);
  for (std::size_t i = 1; i < end; ++i) {
    const std::string address(fields[i]);
    if (address.empty() || !IsHostAddress(address) || SameText(address, prefs_.MyIP)) continue;
    if (AddSearchedUser(address)) SendRequest(address);
  }
  Changed();
}

void Search::HandleSearchFound(const std::string& sender, std::string_view payload) {
  if (!running_ || query_.empty() || !StartsWithText(payload, query_ + "|")) return;
  // number|name|size|nickname|speed|hash|category|media
  const auto fields = SplitFields(payload.substr(query_.size() + 1));
  if (fields.size() != 8 || ParseDecimal<int>(fields[0]) != search_id_) return;
  const auto size = ParseDecimal<std::int32_t>(fields[2]);
  if (!size || *size < 0 || results_.size() >= kMaxResults) return;
  SearchResult row;
  row.file_name = std::string(fields[1]);
  row.category = std::string(fields[6]);
  row.type = GetExtension(row.file_name);
  row.size_text = FormatFileSize(*size);
  row.size = *size;
  row.hash = std::string(fields[5]);
  row.username = std::string(fields[3]);
  row.speed = std::string(ConnectionSpeedName(fields[4]));
  row.media_info = std::string(fields[7]);
  row.source = sender;
  results_.push_back(std::move(row));
  ghosted_.push_back(false);
  Changed();
}

void Search::TimeoutTick() {
  if (idle_ticks_ <= -1) return;
  if (last_searched_count_ < searched_.size() || last_result_count_ < results_.size()) {
    idle_ticks_ = 0;
    last_searched_count_ = searched_.size();
    last_result_count_ = results_.size();
    return;
  }
  if (++idle_ticks_ < kSearchQuietTicks) return;
  ResetSearch();
  running_ = false;
  if (results_.empty()) {
    status_ = SearchStatus::kNoResults;
    runtime_.Prompts().Beep();
  } else {
    status_ = SearchStatus::kFinished;
    can_clear_ = true;
  }
  Changed();
}

std::optional<DownloadRequest> Search::Download(std::size_t row, bool download_folder_exists,
                                                bool sharing_files) {
  if (row >= results_.size()) return std::nullopt;
  if (!download_folder_exists) {
    runtime_.Prompts().MessageBox(
        "Your download directory could not be found.  Please review it in your settings.",
        kAppTitle, PromptIcon::kCritical);
    return std::nullopt;
  }
  if (!sharing_files) {
    runtime_.Prompts().MessageBox("You must share at least 1 file in order to download!", "Error!",
                                  PromptIcon::kCritical);
    return std::nullopt;
  }
  ghosted_[row] = true;
  const SearchResult& result = results_[row];
  Changed();
  return DownloadRequest{result.file_name, result.size, result.hash, result.source};
}

void Search::Changed() {
  if (listener_) listener_();
}

}  // namespace zorvex
