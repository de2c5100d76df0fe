#pragma once
// Item models over a node's own rows. They hold no rows: data() reads the node, and the row
// count follows the notifications of NodeEvents.

#include <functional>

#include <QAbstractTableModel>
#include <QStringList>

#include "node/node_observer.h"

namespace zorvex::ui {

// Qt::UserRole: the value to sort by (numbers for sizes and percents).
inline constexpr int kSortRole = Qt::UserRole;
// Qt::UserRole + 1: whether a result row is ghosted (already downloaded).
inline constexpr int kGhostRole = Qt::UserRole + 1;

class NodeListModel final : public QAbstractTableModel, public NodeObserver {
 public:
  using Cell = std::function<QVariant(std::size_t row, int column, int role)>;

  NodeListModel(NodeEvents& events, NodeList list, QStringList headers, Cell cell,
                QObject* parent = nullptr);
  ~NodeListModel() override;

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

  void RowsAdded(NodeList list, std::size_t first, std::size_t count) override;
  void RowsChanged(NodeList list, std::size_t first, std::size_t count) override;
  void RowsRemoved(NodeList list, std::size_t first, std::size_t count) override;
  void ListReset(NodeList list) override;

  NodeList list() const { return list_; }

 private:
  NodeEvents& events_;
  NodeList list_;
  QStringList headers_;
  Cell cell_;
  int count_ = 0;
};

NodeListModel* NeighboursModel(NodeEvents& events, QObject* parent);
NodeListModel* SharedFilesModel(NodeEvents& events, QObject* parent);
NodeListModel* ResultsModel(NodeEvents& events, QObject* parent);
NodeListModel* DownloadsModel(NodeEvents& events, QObject* parent);
NodeListModel* UploadsModel(NodeEvents& events, QObject* parent);

}  // namespace zorvex::ui
