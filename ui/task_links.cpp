#include "ui/task_links.h"

#include <QGroupBox>
#include <QHeaderView>
#include <QSortFilterProxyModel>
#include <QTableView>
#include <QToolButton>
#include <QVBoxLayout>

#include "ui/node_models.h"

namespace zorvex::ui {

QGroupBox* TaskSection(const QString& name, const QString& title, const QString& tag) {
  auto* box = new QGroupBox(title);
  box->setObjectName(name);
  box->setProperty("tag", tag);
  auto* layout = new QVBoxLayout(box);
  layout->setContentsMargins(6, 4, 6, 4);
  layout->setSpacing(2);
  return box;
}

QToolButton* TaskLink(const QString& name, const QString& caption, QWidget* parent) {
  auto* link = new QToolButton(parent);
  link->setObjectName(name);
  link->setText(caption);
  link->setAutoRaise(true);
  link->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
  link->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
  link->setCursor(Qt::PointingHandCursor);
  if (parent && parent->layout()) parent->layout()->addWidget(link);
  return link;
}

void SortOnHeaderClick(QAbstractItemView* view, QSortFilterProxyModel* proxy,
                       bool (*allowed)(void*), void* context) {
  auto* table = qobject_cast<QTableView*>(view);
  if (!table) return;
  proxy->setSortRole(kSortRole);
  QHeaderView* header = table->horizontalHeader();
  header->setSectionsClickable(true);
  QObject::connect(header, &QHeaderView::sectionClicked, proxy,
                   [proxy, header, allowed, context](int column) {
                     if (allowed && !allowed(context)) return;
                     const Qt::SortOrder order =
                         proxy->sortColumn() == column && proxy->sortOrder() == Qt::AscendingOrder
                             ? Qt::DescendingOrder
                             : Qt::AscendingOrder;
                     proxy->sort(column, order);
                     header->setSortIndicatorShown(true);
                     header->setSortIndicator(column, order);
                   });
}

}  // namespace zorvex::ui
