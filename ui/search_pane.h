#pragma once
// The Search pane: the results list with a filter over it, and the explorer-bar sections with the
// query box, the category list, the start/end link and the search information panel.

#include <filesystem>

#include <QList>
#include <QWidget>

#include "node/node_observer.h"

class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QSpinBox;
class QTableView;
class QToolButton;

namespace zorvex::ui {

class NodeListModel;
class ResultsFilter;

class SearchPane final : public QWidget, public NodeObserver {
 public:
  SearchPane(NodeEvents& events, std::filesystem::path home, QWidget* parent = nullptr);
  ~SearchPane() override;

  QList<QGroupBox*> Sections() const { return {section_, info_}; }
  // The information panel shows on the Search pane while results exist or a search runs.
  void ApplyInfoRule(bool on_pane);

  void StartOrCancel();
  // A search started by a link shows its text in the query box.
  void SetQueryText(const QString& text);
  void ClearResults();
  void DownloadSelected();
  // The menu's entries for the selected result's user: a conversation, the hot list.
  void MessageSelected();
  void AddSelectedToHotList();

  QTableView* results_view() const { return view_; }

  void SearchStateChanged() override;
  void RowsAdded(NodeList list, std::size_t first, std::size_t count) override;

 private:
  std::optional<std::size_t> SelectedRow() const;
  void ShowMenu(const QPoint& at);

  NodeEvents& events_;
  Node& node_;
  NodeListModel* model_ = nullptr;
  ResultsFilter* filter_ = nullptr;
  QTableView* view_ = nullptr;
  QLineEdit* name_filter_ = nullptr;
  QSpinBox* size_filter_ = nullptr;

  QGroupBox* section_ = nullptr;
  QLineEdit* query_ = nullptr;
  QComboBox* category_ = nullptr;
  QToolButton* start_ = nullptr;
  QToolButton* clear_ = nullptr;
  QToolButton* download_ = nullptr;

  QGroupBox* info_ = nullptr;
  QLabel* status_ = nullptr;
  QLabel* query_shown_ = nullptr;
  QLabel* users_ = nullptr;
  QLabel* count_ = nullptr;
  bool was_running_ = false;
};

}  // namespace zorvex::ui
