#pragma once
// The panes' lists of node rows: whole rows selected one at a time, nothing edited in place.

class QAbstractItemModel;
class QString;
class QTableView;
class QWidget;

namespace zorvex::ui {

QTableView* RowView(const QString& name, QAbstractItemModel* model, QWidget* parent);

}  // namespace zorvex::ui
