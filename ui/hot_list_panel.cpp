#include "ui/hot_list_panel.h"

#include <QHash>
#include <QMenu>
#include <QSignalBlocker>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "im/conversations.h"
#include "im/hot_list.h"
#include "ui/task_links.h"
#include "ui/text.h"

namespace zorvex::ui {
namespace {

constexpr int kKeyRole = Qt::UserRole;
constexpr int kTagRole = Qt::UserRole + 1;

}  // namespace

HotListPanel::HotListPanel(Node& node, QWidget* parent)
    : QGroupBox(QStringLiteral("BuddyList"), parent), node_(node) {
  setObjectName(QStringLiteral("smHotList"));
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(6, 4, 6, 4);
  layout->setSpacing(2);

  away_ = TaskLink(QStringLiteral("lblSetAway"), QString(), this);
  connect(away_, &QToolButton::clicked, this, [this] { ToggleAway(); });

  tree_ = new QTreeWidget(this);
  tree_->setObjectName(QStringLiteral("tvHotList"));
  tree_->setHeaderHidden(true);
  tree_->setRootIsDecorated(true);
  tree_->setMinimumHeight(120);
  tree_->setContextMenuPolicy(Qt::CustomContextMenu);
  layout->addWidget(tree_);
  connect(tree_, &QTreeWidget::currentItemChanged, this, [this] { UpdateLinks(); });
  connect(tree_, &QTreeWidget::itemDoubleClicked, this, [this] { MessageSelected(); });
  connect(tree_, &QTreeWidget::customContextMenuRequested, this,
          [this](const QPoint& at) { ShowMenu(at); });

  message_ = TaskLink(QStringLiteral("lblHotListMessage"), QStringLiteral("IM User"), this);
  remove_ = TaskLink(QStringLiteral("lblHotListRemove"), QStringLiteral("Remove"), this);
  connect(message_, &QToolButton::clicked, this, [this] { MessageSelected(); });
  connect(remove_, &QToolButton::clicked, this, [this] { RemoveSelected(); });

  node_.hot_list().SetChangeListener([this] { RefreshTree(); });
  RefreshTree();
  RefreshAway();
}

HotListPanel::~HotListPanel() {
  node_.hot_list().SetChangeListener({});
}

void HotListPanel::RefreshTree() {
  // The selection follows its node by address (buddies) or key (groups) across a rebuild.
  QString current_key;
  QString current_tag;
  if (QTreeWidgetItem* item = tree_->currentItem()) {
    current_key = item->data(0, kKeyRole).toString();
    current_tag = item->data(0, kTagRole).toString();
  }
  QSignalBlocker block(tree_);
  tree_->clear();
  QHash<QString, QTreeWidgetItem*> groups;
  QTreeWidgetItem* select = nullptr;
  for (const HotListNode& entry : node_.hot_list().nodes()) {
    QTreeWidgetItem* item = nullptr;
    const QString key = FromBytes(entry.key);
    if (entry.parent.empty()) {
      item = new QTreeWidgetItem(tree_);
      groups.insert(key, item);
    } else {
      QTreeWidgetItem* group = groups.value(FromBytes(entry.parent));
      item = group ? new QTreeWidgetItem(group) : new QTreeWidgetItem(tree_);
    }
    item->setText(0, FromBytes(entry.text));
    item->setData(0, kKeyRole, key);
    const QString tag = FromBytes(entry.tag);
    item->setData(0, kTagRole, tag);
    item->setToolTip(0, tag);
    if (current_tag.isEmpty() ? (!current_key.isEmpty() && key == current_key)
                              : tag == current_tag) {
      select = item;
    }
  }
  tree_->expandAll();
  if (select) tree_->setCurrentItem(select);
  UpdateLinks();
}

void HotListPanel::RefreshAway() {
  away_->setText(FromBytes(node_.conversations().away_caption()));
}

std::optional<HotListPanel::Buddy> HotListPanel::SelectedBuddy() const {
  QTreeWidgetItem* item = tree_->currentItem();
  if (!item) return std::nullopt;
  const QString tag = item->data(0, kTagRole).toString();
  if (tag.isEmpty()) return std::nullopt;
  return Buddy{ToBytes(item->text(0)), ToBytes(tag)};
}

void HotListPanel::UpdateLinks() {
  const bool buddy = SelectedBuddy().has_value();
  message_->setEnabled(buddy);
  remove_->setEnabled(buddy);
}

void HotListPanel::MessageSelected() {
  if (const auto buddy = SelectedBuddy()) {
    node_.conversations().ReceiveIM(buddy->address, buddy->nickname + "|");
  }
}

void HotListPanel::RemoveSelected() {
  if (const auto buddy = SelectedBuddy())
    node_.hot_list().RemoveBuddy(buddy->nickname, buddy->address);
}

void HotListPanel::ToggleAway() {
  node_.conversations().ToggleAway();
}

void HotListPanel::ShowMenu(const QPoint& at) {
  if (!SelectedBuddy()) return;
  QMenu menu(QStringLiteral("HotListMenu"), this);
  menu.setObjectName(QStringLiteral("mnuHotList"));
  QAction* im = menu.addAction(QStringLiteral("&Instant Message"));
  im->setObjectName(QStringLiteral("mnuHotListIM"));
  menu.setDefaultAction(im);
  QAction* remove = menu.addAction(QStringLiteral("Remove &User"));
  remove->setObjectName(QStringLiteral("mnuHotListRemove"));
  QAction* chosen = menu.exec(tree_->viewport()->mapToGlobal(at));
  if (chosen == im) MessageSelected();
  if (chosen == remove) RemoveSelected();
}

}  // namespace zorvex::ui
