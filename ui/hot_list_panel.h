#pragma once
// The explorer bar's section for talking: the away link, the hot list tree with its groups
// "Online" and "Offline", and the links and menu that open a conversation with a buddy or
// remove it. It shows the node's hot list and away caption and changes them only through the
// node's operations.

#include <optional>

#include <QGroupBox>

#include "node/node.h"

class QMenu;
class QToolButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace zorvex::ui {

class HotListPanel final : public QGroupBox {
 public:
  explicit HotListPanel(Node& node, QWidget* parent = nullptr);
  ~HotListPanel() override;

  // Reads the tree and the away caption again.
  void RefreshTree();
  void RefreshAway();

  // The actions of the links, the menu and a double-click on the selected node.
  void MessageSelected();
  void RemoveSelected();
  void ToggleAway();

  QTreeWidget* tree() const { return tree_; }

 private:
  struct Buddy {
    std::string nickname;
    std::string address;
  };
  std::optional<Buddy> SelectedBuddy() const;
  void UpdateLinks();
  void ShowMenu(const QPoint& at);

  Node& node_;
  QToolButton* away_ = nullptr;
  QTreeWidget* tree_ = nullptr;
  QToolButton* message_ = nullptr;
  QToolButton* remove_ = nullptr;
};

}  // namespace zorvex::ui
