#pragma once
// Change notifications of a node's user-visible rows and texts, for views that show them without
// copying them. `NodeEvents` gathers the parts' coarse change signals and, once the handler that
// caused them has returned, tells each observer which rows were added, changed or removed.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "node/node.h"
#include "share/my_files.h"

namespace zorvex {

enum class NodeList { kNeighbours, kSharedFiles, kResults, kDownloads, kUploads };
inline constexpr std::size_t kNodeListCount = 5;

class NodeObserver {
 public:
  virtual ~NodeObserver() = default;
  // Rows [first, first + count) of the list, which now has the new rows in place.
  virtual void RowsAdded(NodeList /*list*/, std::size_t /*first*/, std::size_t /*count*/) {}
  virtual void RowsChanged(NodeList /*list*/, std::size_t /*first*/, std::size_t /*count*/) {}
  virtual void RowsRemoved(NodeList /*list*/, std::size_t /*first*/, std::size_t /*count*/) {}
  // Rows went away or moved anywhere in the list: read it afresh.
  virtual void ListReset(NodeList /*list*/) {}
  virtual void StatusLineChanged(const std::string& /*line*/) {}
  // Packet counters or the queue display.
  virtual void CountersChanged() {}
  // The search's caption, status texts and counts.
  virtual void SearchStateChanged() {}
  // Connection indicator, strength and the "Connect" label.
  virtual void ConnectionChanged() {}
  // A download row was tagged "Finished" (true) or "Error" (false).
  virtual void DownloadEnded(const std::string& /*file_name*/, bool /*finished*/) {}
};

class NodeEvents {
 public:
  // Takes the change listeners of the node's parts; one NodeEvents per node.
  NodeEvents(Node& node, Runtime& runtime);
  ~NodeEvents();
  NodeEvents(const NodeEvents&) = delete;
  NodeEvents& operator=(const NodeEvents&) = delete;

  void AddObserver(NodeObserver* observer);
  void RemoveObserver(NodeObserver* observer);

  // The rows each list has, as last announced to the observers.
  std::size_t AnnouncedRows(NodeList list) const;

  // My Files operations that change the shared table outside a scan.
  MyFilesResult Unshare(std::size_t row);
  MyFilesResult Delete(std::size_t row);  // the widget has asked its question already
  void ClearSharedFiles();

  // For code that changes a list directly (tests, tools): the list is announced again.
  void Changed(NodeList list) { Mark(list); }

  // Delivers what is pending now instead of on the next loop step.
  void Flush();

  Node& node() { return node_; }
  Runtime& runtime() { return runtime_; }

 private:
  void Mark(NodeList list);
  void MarkOther(int bit);
  void Schedule();
  std::size_t CurrentRows(NodeList list) const;
  void NoticeEndedDownloads();

  Node& node_;
  Runtime& runtime_;
  std::vector<NodeObserver*> observers_;
  std::size_t announced_[kNodeListCount] = {};
  bool dirty_[kNodeListCount] = {};
  bool reset_[kNodeListCount] = {};
  int other_ = 0;  // bits: counters, search, connection
  std::optional<std::string> status_;
  bool scheduled_ = false;
  std::shared_ptr<bool> alive_;
  // Whether each download row had ended when last seen, to tell each ending once.
  std::vector<bool> download_ended_;
};

}  // namespace zorvex
