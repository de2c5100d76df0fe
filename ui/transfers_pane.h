#pragma once
// The Transfers pane: the Downloads and Uploads lists (percent drawn as a progress bar), the
// automatic-clearing check boxes, and the explorer-bar section with the transfer tasks.

#include <optional>

#include <QList>
#include <QWidget>

#include "node/node_observer.h"

class QCheckBox;
class QGroupBox;
class QSortFilterProxyModel;
class QTableView;
class QToolButton;

namespace zorvex::ui {

class NodeListModel;

class TransfersPane final : public QWidget, public NodeObserver {
 public:
  explicit TransfersPane(NodeEvents& events, QWidget* parent = nullptr);
  ~TransfersPane() override;

  QList<QGroupBox*> Sections() const { return {section_}; }

  void Cancel();
  void PauseOrResume();
  void FindMoreSources();
  void Clear(bool errors);

  QTableView* downloads() const { return downloads_; }
  QTableView* uploads() const { return uploads_; }
  bool uploads_selected() const { return uploads_selected_; }
  // Finished or failed downloads, for a desktop notification.
  // The upload menu's entry: a conversation with the selected upload's peer.
  void MessageSelectedUpload();
  void SetDownloadEndedListener(std::function<void(const QString& name, bool ok)> listener) {
    ended_ = std::move(listener);
  }

  void DownloadEnded(const std::string& file_name, bool finished) override;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  std::optional<std::size_t> SelectedRow(bool uploads) const;
  void EnableLinks(bool on);
  void MenuChange(bool on);
  void ShowMenu(bool uploads, const QPoint& at);

  NodeEvents& events_;
  Node& node_;
  NodeListModel* download_model_ = nullptr;
  NodeListModel* upload_model_ = nullptr;
  QSortFilterProxyModel* download_proxy_ = nullptr;
  QSortFilterProxyModel* upload_proxy_ = nullptr;
  QTableView* downloads_ = nullptr;
  QTableView* uploads_ = nullptr;
  QCheckBox* clear_downloads_ = nullptr;
  QCheckBox* clear_uploads_ = nullptr;
  QGroupBox* section_ = nullptr;
  QToolButton* links_[5] = {};
  bool uploads_selected_ = false;
  std::function<void(const QString&, bool)> ended_;
};

}  // namespace zorvex::ui
