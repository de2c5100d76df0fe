#pragma once
// The Community pane: the neighbour table and what the node knows about its place in the network.

#include <QWidget>

#include "node/node_observer.h"

class QLabel;
class QTableView;

namespace zorvex::ui {

class CommunityPane final : public QWidget, public NodeObserver {
 public:
  explicit CommunityPane(NodeEvents& events, QWidget* parent = nullptr);
  ~CommunityPane() override;

  void ConnectionChanged() override;

 private:
  NodeEvents& events_;
  Node& node_;
  QTableView* view_ = nullptr;
  QLabel* summary_ = nullptr;
};

}  // namespace zorvex::ui
