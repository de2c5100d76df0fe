#include "node/node_observer.h"

#include <algorithm>

#include "core/message_layer.h"
#include "network/peer_table.h"
#include "search/search.h"
#include "share/folder_scan.h"
#include "transfer/transfers.h"

namespace zorvex {
namespace {

constexpr int kCountersBit = 1;
constexpr int kSearchBit = 2;
constexpr int kConnectionBit = 4;

std::size_t Index(NodeList list) {
  return static_cast<std::size_t>(list);
}

}  // namespace

NodeEvents::NodeEvents(Node& node, Runtime& runtime)
    : node_(node), runtime_(runtime), alive_(std::make_shared<bool>(true)) {
  node_.SetStatusListener([this](const std::string& line) {
    status_ = line;
    Schedule();
  });
  node_.search().SetChangeListener([this] {
    Mark(NodeList::kResults);
    MarkOther(kSearchBit);
  });
  node_.transfers().SetChangeListener([this] {
    Mark(NodeList::kDownloads);
    Mark(NodeList::kUploads);
  });
  node_.peers().SetOnChanged([this] {
    Mark(NodeList::kNeighbours);
    MarkOther(kConnectionBit);
  });
  node_.messages().SetActivityListener([this] { MarkOther(kCountersBit); });
  node_.folder_scan().SetOnTableChanged([this] { Mark(NodeList::kSharedFiles); });
  for (std::size_t i = 0; i < kNodeListCount; ++i)
    announced_[i] = CurrentRows(static_cast<NodeList>(i));
}

NodeEvents::~NodeEvents() {
  *alive_ = false;
  node_.SetStatusListener({});
  node_.search().SetChangeListener({});
  node_.transfers().SetChangeListener({});
  node_.peers().SetOnChanged({});
  node_.messages().SetActivityListener({});
  node_.folder_scan().SetOnTableChanged({});
}

void NodeEvents::AddObserver(NodeObserver* observer) {
  observers_.push_back(observer);
}

void NodeEvents::RemoveObserver(NodeObserver* observer) {
  std::erase(observers_, observer);
}

std::size_t NodeEvents::AnnouncedRows(NodeList list) const {
  return announced_[Index(list)];
}

std::size_t NodeEvents::CurrentRows(NodeList list) const {
  switch (list) {
    case NodeList::kNeighbours:
      return node_.peers().size();
    case NodeList::kSharedFiles:
      return node_.shared_files().rows.size();
    case NodeList::kResults:
      return node_.search().results().size();
    case NodeList::kDownloads:
      return node_.transfers().download_rows().size();
    case NodeList::kUploads:
      return node_.transfers().upload_rows().size();
  }
  return 0;
}

void NodeEvents::Mark(NodeList list) {
  dirty_[Index(list)] = true;
  Schedule();
}

void NodeEvents::MarkOther(int bit) {
  other_ |= bit;
  Schedule();
}

// Posting the delivery means no observer runs inside the handler that made the change, and a
// burst of changes reaches the views once.
void NodeEvents::Schedule() {
  if (scheduled_) return;
  scheduled_ = true;
  runtime_.Post([this, alive = std::weak_ptr<bool>(alive_)] {
    if (alive.lock()) Flush();
  });
}

void NodeEvents::Flush() {
  scheduled_ = false;
  for (std::size_t i = 0; i < kNodeListCount; ++i) {
    if (!dirty_[i] && !reset_[i]) continue;
    const auto list = static_cast<NodeList>(i);
    const std::size_t was = announced_[i];
    const std::size_t now = CurrentRows(list);
    announced_[i] = now;
    const bool reset = reset_[i] || now < was;
    dirty_[i] = reset_[i] = false;
    // Results and shared files only ever grow between resets; the others change in place.
    const bool in_place = list != NodeList::kResults && list != NodeList::kSharedFiles;
    for (NodeObserver* o : observers_) {
      if (reset) {
        o->ListReset(list);
      } else if (now > was) {
        if (in_place && was > 0) o->RowsChanged(list, 0, was);
        o->RowsAdded(list, was, now - was);
      } else if (now > 0) {
        o->RowsChanged(list, 0, now);
      }
    }
  }
  NoticeEndedDownloads();
  const int other = std::exchange(other_, 0);
  std::optional<std::string> status = std::exchange(status_, std::nullopt);
  for (NodeObserver* o : observers_) {
    if (status) o->StatusLineChanged(*status);
    if (other & kCountersBit) o->CountersChanged();
    if (other & kSearchBit) o->SearchStateChanged();
    if (other & kConnectionBit) o->ConnectionChanged();
  }
}

void NodeEvents::NoticeEndedDownloads() {
  const auto& rows = node_.transfers().download_rows();
  // Clearing removes rows anywhere: only rows that stay in place can be compared.
  if (download_ended_.size() > rows.size()) download_ended_.clear();
  const std::size_t known = download_ended_.size();
  download_ended_.resize(rows.size(), false);
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const bool ended = rows[i].tag == "Finished" || rows[i].tag == "Error";
    const bool newly = ended && !download_ended_[i] && i < known;
    download_ended_[i] = ended;
    if (!newly) continue;
    for (NodeObserver* o : observers_)
      o->DownloadEnded(rows[i].file_name, rows[i].tag == "Finished");
  }
}

MyFilesResult NodeEvents::Unshare(std::size_t row) {
  Flush();
  const MyFilesResult result = node_.folder_scan().UnshareRows({row});
  if (result == MyFilesResult::kDone) {
    announced_[Index(NodeList::kSharedFiles)] = CurrentRows(NodeList::kSharedFiles);
    for (NodeObserver* o : observers_)
      o->RowsRemoved(NodeList::kSharedFiles, row, 1);
  }
  return result;
}

namespace {
// The widget asked already; the node's own question is answered yes.
class YesPrompts final : public UserPrompts {
 public:
  explicit YesPrompts(UserPrompts& inner) : inner_(inner) {}
  void MessageBox(std::string_view text, std::string_view title, PromptIcon icon) override {
    inner_.MessageBox(text, title, icon);
  }
  bool AskYesNo(std::string_view, std::string_view) override { return true; }
  void Beep() override { inner_.Beep(); }

 private:
  UserPrompts& inner_;
};
}  // namespace

MyFilesResult NodeEvents::Delete(std::size_t row) {
  Flush();
  YesPrompts prompts(runtime_.Prompts());
  const MyFilesResult result = node_.folder_scan().DeleteRow(row, prompts);
  if (result == MyFilesResult::kDone) {
    announced_[Index(NodeList::kSharedFiles)] = CurrentRows(NodeList::kSharedFiles);
    for (NodeObserver* o : observers_)
      o->RowsRemoved(NodeList::kSharedFiles, row, 1);
  }
  return result;
}

void NodeEvents::ClearSharedFiles() {
  node_.shared_files().rows.clear();
  reset_[Index(NodeList::kSharedFiles)] = true;
  Schedule();
}

}  // namespace zorvex
