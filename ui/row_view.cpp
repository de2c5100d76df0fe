#include "ui/row_view.h"

#include <QHeaderView>
#include <QTableView>

namespace zorvex::ui {

QTableView* RowView(const QString& name, QAbstractItemModel* model, QWidget* parent) {
  auto* view = new QTableView(parent);
  view->setObjectName(name);
  view->setModel(model);
  view->setSelectionBehavior(QAbstractItemView::SelectRows);
  view->setSelectionMode(QAbstractItemView::SingleSelection);
  view->setEditTriggers(QAbstractItemView::NoEditTriggers);
  view->verticalHeader()->hide();
  view->setWordWrap(false);
  view->horizontalHeader()->setStretchLastSection(true);
  return view;
}

}  // namespace zorvex::ui
