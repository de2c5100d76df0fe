#pragma once
// The searching side: checks and starts a search at the neighbours, extends the walk to every node
// a "SearchList:" names, collects "SearchFound:" answers into the results, and ends the search
// after 25 quiet ticks of the liveness timer.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "core/runtime.h"

namespace zorvex {

class MessageLayer;
class PeerTable;
struct Preferences;

inline constexpr int kSearchQuietTicks = 25;
// One search asks at most this many nodes, so that lists from the nodes asked cannot make it
// message the whole world.
inline constexpr std::size_t kMaxSearchedUsers = 2'000;

// One accepted answer, with the texts of its columns.
struct SearchResult {
  std::string file_name;
  std::string category;   // the row's icon
  std::string type;       // lower-case extension or "Unknown"
  std::string size_text;  // FormatFileSize of size
  std::int32_t size = 0;
  std::string hash;
  std::string username;
  std::string speed;       // ConnectionSpeedName
  std::string media_info;  // "Other Information"
  std::string source;      // the answering node's address
};

enum class SearchStatus { kNone, kSearching, kCancelled, kNoResults, kFinished };

// "Searching...", "Cancelled!", "No Results Found!", "Finished", or "" for kNone.
std::string_view SearchStatusText(SearchStatus status);

// What a download of a result needs, once its checks have passed.
struct DownloadRequest {
  std::string file_name;
  std::int32_t size = 0;
  std::string hash;
  std::string source;
};

class Search {
 public:
  Search(MessageLayer& messages, const PeerTable& peers, const Preferences& prefs,
         Runtime& runtime);

  // The filter list's index, 0-5; also during a search, for the requests still to come.
  void SetCategory(int category) { category_ = category; }
  int category() const { return category_; }

  // The start link: starts a search when none runs, else cancels it. False when the query was
  // refused (the user has been told why).
  bool StartOrCancel(std::string_view query);
  void Cancel();
  // For link commands: ends a running search and starts one for the text.
  void SearchIt(std::string_view text);
  void ClearResults();

  void HandleSearchList(const std::string& sender, std::string_view payload);
  void HandleSearchFound(const std::string& sender, std::string_view payload);
  // One tick of the liveness timer: ends the search after 25 quiet ticks.
  void TimeoutTick();

  // The download checks; the request when they pass, after which the row shows ghosted.
  std::optional<DownloadRequest> Download(std::size_t row, bool download_folder_exists,
                                          bool sharing_files);

  bool running() const { return running_; }
  const std::string& query() const { return query_; }              // "" when none runs
  int search_id() const { return search_id_; }                     // 0 when none runs
  const std::string& shown_query() const { return shown_query_; }  // "-----" after clearing
  SearchStatus status() const { return status_; }
  std::size_t searched_count() const { return searched_.size(); }
  std::size_t shown_searched_count() const { return shown_searched_; }
  const std::vector<SearchResult>& results() const { return results_; }
  const std::vector<bool>& ghosted() const { return ghosted_; }
  bool can_clear() const { return can_clear_; }

  // Runs after every change that a view shows.
  void SetChangeListener(std::function<void()> listener) { listener_ = std::move(listener); }
  // How many nodes one search asks at most; only network studies change it (see NodeOptions).
  void SetAskLimit(std::size_t limit) { ask_limit_ = limit; }

 private:
  bool Start(std::string_view query);
  void ResetSearch();
  // False when the address was asked already or the search asks no more.
  bool AddSearchedUser(const std::string& address);
  bool IsUserSearched(std::string_view address) const;
  void SendRequest(const std::string& address);
  void Changed();

  MessageLayer& messages_;
  const PeerTable& peers_;
  const Preferences& prefs_;
  Runtime& runtime_;
  std::function<void()> listener_;

  bool running_ = false;
  std::string query_;
  std::string shown_query_ = "-----";
  int category_ = 0;
  int search_id_ = 0;
  std::size_t ask_limit_ = kMaxSearchedUsers;
  std::vector<std::string> searched_;
  std::unordered_set<std::string> searched_set_;  // the same, lower-cased
  std::size_t shown_searched_ = 0;
  int idle_ticks_ = -1;
  std::size_t last_searched_count_ = 0;
  std::size_t last_result_count_ = 0;
  SearchStatus status_ = SearchStatus::kNone;
  std::vector<SearchResult> results_;
  std::vector<bool> ghosted_;
  bool can_clear_ = false;
};

}  // namespace zorvex
