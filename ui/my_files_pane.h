#pragma once
// The My Files pane: the shared-file list, its counts, and the explorer-bar sections with the
// file tasks, the details of the clicked file and the find panel.

#include <functional>
#include <optional>

#include <QList>
#include <QWidget>

#include "core/status.h"
#include "node/node_observer.h"
#include "share/my_files.h"

class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSortFilterProxyModel;
class QTableView;
class QToolButton;

namespace zorvex::ui {

class NodeListModel;

class MyFilesPane final : public QWidget, public NodeObserver {
 public:
  MyFilesPane(NodeEvents& events, std::function<void(const QString&)> set_status,
              QWidget* parent = nullptr);
  ~MyFilesPane() override;

  QList<QGroupBox*> Sections() const { return {tasks_, stats_, find_}; }

  void ShowFindPanel();
  void CloseFindPanel();
  void FindNext();
  void RunSelected();
  void CopyLink();
  void UnshareSelected();
  void DeleteSelected();
  void Refresh();

  QTableView* view() const { return view_; }

  void RowsAdded(NodeList list, std::size_t first, std::size_t count) override;
  void RowsRemoved(NodeList list, std::size_t first, std::size_t count) override;
  void RowsChanged(NodeList list, std::size_t first, std::size_t count) override;
  void ListReset(NodeList list) override;

 private:
  std::optional<std::size_t> SelectedRow() const;
  void RowClicked();
  void UpdateCounts();
  void Want(QGroupBox* panel, bool wanted);
  void ShowMenu(const QPoint& at);

  NodeEvents& events_;
  Node& node_;
  StatusModel status_;
  FileFinder finder_;
  NodeListModel* model_ = nullptr;
  QSortFilterProxyModel* proxy_ = nullptr;
  QTableView* view_ = nullptr;
  QLabel* shared_count_ = nullptr;
  QLabel* total_ = nullptr;

  QGroupBox* tasks_ = nullptr;
  QToolButton* links_[5] = {};
  QGroupBox* stats_ = nullptr;
  QLabel* size_ = nullptr;
  QLabel* ext_ = nullptr;
  QLabel* type_ = nullptr;
  QLabel* other_ = nullptr;
  QLabel* kind_ = nullptr;
  QGroupBox* find_ = nullptr;
  QLineEdit* keywords_ = nullptr;
  QPushButton* find_button_ = nullptr;
  QPushButton* cancel_ = nullptr;
};

}  // namespace zorvex::ui
